// Reading and writing through the serial driver: packet boundaries, wake-up, purge, queue
// overflow and a vanished device, against a real pseudo-terminal (or a real device: see
// LineUnderTest).
#include "SerialPortTestSupport.h"

#include <future>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <thread>

namespace {

using namespace serialtest;

class SerialReadTest : public PtyFixture
{
};

TEST_F(SerialReadTest, ZeroBytesArePreserved)
{
    UsePacketTimeouts();
    const std::string bytes("a\0b\0\0c\xff\x80", 8);
    ASSERT_EQ(pty.Write(bytes), bytes.size());
    // An emulated UART on a busy host may pause within the write: the bytes may come in more
    // than one packet there, all of them kept.
    std::string received;
    for (int packets = 0; packets < 4 && received.size() < bytes.size(); ++packets)
        received += ReadString(160);
    EXPECT_EQ(received, bytes);
}

TEST_F(SerialReadTest, ABurstSplitsIntoFullPacketsAndTheRest)
{
    SKIP_ON_REAL_DEVICE(LINE_PAUSES_WITHIN_A_WRITE);
    UsePacketTimeouts();
    std::string burst;
    for (int i = 0; i < 400; ++i)
        burst += static_cast<char>(i % 251);
    ASSERT_EQ(pty.Write(burst), burst.size());
    ASSERT_TRUE(WaitFor([&] { return InQueue() == 400; }));
    std::string all;
    for (const std::size_t expected : {160u, 160u, 80u}) {
        const std::string packet = ReadString(160);
        EXPECT_EQ(packet.size(), expected);
        all += packet;
    }
    EXPECT_EQ(all, burst);
}

TEST_F(SerialReadTest, APauseLongerThanTheIntervalEndsAPacketEvenForALateReader)
{
    SKIP_ON_REAL_DEVICE(LINE_PAUSES_WITHIN_A_WRITE);
    UsePacketTimeouts();
    // The reader is busy elsewhere while both pieces arrive: the pause between them
    // still separates the packets.
    ASSERT_EQ(pty.Write("first"), 5u);
    ASSERT_TRUE(WaitFor([&] { return InQueue() == 5; }));
    std::this_thread::sleep_for(30ms);
    ASSERT_EQ(pty.Write("second"), 6u);
    ASSERT_TRUE(WaitFor([&] { return InQueue() == 11; }));
    EXPECT_EQ(ReadString(160), "first");
    EXPECT_EQ(ReadString(160), "second");

    // And the same while the read is waiting.
    auto reader = std::async(std::launch::async, [&] { return ReadString(160); });
    std::this_thread::sleep_for(20ms);
    ASSERT_EQ(pty.Write("third"), 5u);
    EXPECT_EQ(reader.get(), "third");
}

TEST_F(SerialReadTest, AnIdleReadEndsAfterMultiplierTimesSizePlusConstant)
{
    const struct
    {
        std::uint32_t multiplier, constant;
        std::size_t size;
    } cases[] = {{2, 10, 160}, {0, 150, 80}, {1, 0, 200}};
    for (const auto& c : cases) {
        UsePacketTimeouts(2, c.multiplier, c.constant);
        const auto expected = std::chrono::milliseconds(c.multiplier * c.size + c.constant);
        const auto start = Clock::now();
        EXPECT_EQ(ReadString(c.size), "");
        const auto took = Clock::now() - start;
        EXPECT_GE(took, expected - 1ms) << expected.count();
        EXPECT_LT(took, expected + 1500ms) << expected.count(); // loaded machine
    }
}

TEST_F(SerialReadTest, WakeReadEndsAPendingReadOrTheNextOne)
{
    // No timeouts at all: only bytes, a wake-up or a purge end this read.
    UsePacketTimeouts(0, 0, 0);
    auto reader = std::async(std::launch::async, [&] { return ReadString(160); });
    EXPECT_EQ(reader.wait_for(100ms), std::future_status::timeout);
    port->WakeRead();
    ASSERT_EQ(reader.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(reader.get(), "");

    port->WakeRead();
    EXPECT_EQ(ReadString(160), ""); // returns at once
    // The wake-up is used up: the next read waits for bytes again.
    UsePacketTimeouts(2, 0, 0);
    auto next = std::async(std::launch::async, [&] { return ReadString(4); });
    EXPECT_EQ(next.wait_for(100ms), std::future_status::timeout);
    pty.Write("data");
    EXPECT_EQ(next.get(), "data");
}

TEST_F(SerialReadTest, PurgeAbortsAPendingReadAndReceptionGoesOn)
{
    UsePacketTimeouts(0, 0, 0);
    auto reader =
        std::async(std::launch::async, [&] { return ReadString(160, SerialResult::Aborted); });
    EXPECT_EQ(reader.wait_for(100ms), std::future_status::timeout);
    port->Purge();
    ASSERT_EQ(reader.wait_for(5s), std::future_status::ready);
    reader.get();

    UsePacketTimeouts();
    pty.Write("old bytes");
    ASSERT_TRUE(WaitFor([&] { return InQueue() == 9; }));
    port->Purge();
    EXPECT_EQ(InQueue(), 0u);
    pty.Write("next");
    EXPECT_EQ(ReadString(160), "next");
}

TEST_F(SerialReadTest, InputQueueOverflowDropsTheExcessAndReportsItOnce)
{
    UsePacketTimeouts();
    ASSERT_TRUE(port->SetupQueues(16, 16));
    std::string bytes;
    for (char c = 'A'; c < 'A' + 40; ++c)
        bytes += c;
    ASSERT_EQ(pty.Write(bytes), bytes.size());
    // A real line delivers the bytes one after the other, and each one past the queue's room
    // is an overflow: let them all arrive before the error is read and cleared. The line
    // needs 3.5 ms for them; the wait covers an emulated line on a loaded machine.
    if (LineUnderTest::OnRealDevice())
        std::this_thread::sleep_for(500ms);
    std::uint32_t errors = 0;
    SerialStatus status;
    ASSERT_TRUE(WaitFor([&] {
        std::uint32_t e = 0;
        port->ClearError(&e, &status);
        errors |= e;
        return (errors & CE_RXOVER) != 0;
    }));
    EXPECT_EQ(status.cbInQue, 16u);
    port->ClearError(&errors, &status);
    EXPECT_EQ(errors, 0u); // cleared by reading
    EXPECT_EQ(ReadString(160), bytes.substr(0, 16));

    // A smaller queue keeps the oldest bytes and reports the rest as lost.
    ASSERT_TRUE(port->SetupQueues(64, 64));
    ASSERT_EQ(pty.Write(bytes), bytes.size());
    ASSERT_TRUE(WaitFor([&] { return InQueue() == 40; }));
    ASSERT_TRUE(port->SetupQueues(10, 10));
    port->ClearError(&errors, &status);
    EXPECT_EQ(errors, CE_RXOVER);
    EXPECT_EQ(status.cbInQue, 10u);
    EXPECT_EQ(ReadString(160), bytes.substr(0, 10));
}

TEST_F(SerialReadTest, WritesOfAnySizeArriveWhole)
{
    std::string big(200000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7);
    auto reader = std::async(std::launch::async, [&] { return pty.Read(big.size(), 20s); });
    std::size_t written = 0;
    EXPECT_EQ(port->Write(big.data(), big.size(), &written, 20s), SerialResult::Ok);
    EXPECT_EQ(written, big.size());
    EXPECT_EQ(reader.get(), big);
}

TEST_F(SerialReadTest, AFullPeerMakesABoundedWriteTimeOutWithThePartialCount)
{
    SKIP_ON_REAL_DEVICE("the peer's port of a real line takes what comes");
    // Nobody reads the master: the pty fills up (about 20 KiB) and the write waits.
    std::string big(200000, 'x');
    std::size_t written = 0;
    EXPECT_EQ(port->Write(big.data(), big.size(), &written, 200ms), SerialResult::Timeout);
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, big.size());
}

double CpuSeconds()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

TEST_F(SerialReadTest, AVanishedDeviceEndsReadsAndWritesWithEioWithoutSpinning)
{
    SKIP_ON_REAL_DEVICE("the line is pulled by closing the pty's master");
    UsePacketTimeouts(0, 0, 0);
    pty.Write("last");
    ASSERT_TRUE(WaitFor([&] { return InQueue() == 4; }));
    auto reader = std::async(std::launch::async, [&] {
        std::string first = ReadString(160); // what came before the unplug
        return first + "|" + ReadString(160, SerialResult::IoError);
    });
    // A write waits for room: nobody reads the master.
    auto writer = std::async(std::launch::async, [&] {
        std::string big(200000, 'x');
        std::size_t n = 0;
        return port->Write(big.data(), big.size(), &n, 30s);
    });
    std::this_thread::sleep_for(50ms);
    pty.CloseMaster(); // the adapter is pulled
    ASSERT_EQ(reader.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(reader.get(), "last|");
    ASSERT_EQ(writer.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(writer.get(), SerialResult::IoError);
    EXPECT_EQ(port->LastErrno(), EIO);
    std::size_t written = 1;
    EXPECT_EQ(port->Write("x", 1, &written, 1s), SerialResult::IoError);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(port->LastErrno(), EIO);
    EXPECT_EQ(ReadString(160, SerialResult::IoError), "");

    // The I/O thread must not keep polling a hung-up device.
    const double cpuBefore = CpuSeconds();
    std::this_thread::sleep_for(500ms);
    EXPECT_LT(CpuSeconds() - cpuBefore, 0.25);
    port.reset(); // closing a vanished device completes
}

} // namespace
