// What only a real serial driver has: modem lines (with the 8250 UART's own loopback, which
// wires DTR to DSR, RTS to CTS and the transmitter to the receiver), a transmit queue the
// driver keeps short, and how many bytes still reach the peer after its XOFF.
#include "platform/SerialPort.h"
#include "tests/kernel_serial/HostPeer.h"
#include "tests/serial_port/SerialPortTestSupport.h"

#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace serialtest;

// TIOCM_LOOP of <asm-generic/termios.h>, which cannot be included beside glibc's termios.
constexpr int kModemLoop = 0x8000;

bool IsUart(const std::string& path)
{
    return path.rfind("/dev/ttyS", 0) == 0;
}

class DeviceTest : public PtyFixture
{
protected:
    void SetUp() override
    {
        if (!LineUnderTest::OnRealDevice())
            GTEST_SKIP() << "needs a real device (ORVIX_TEST_DEVICE)";
        PtyFixture::SetUp();
    }
};

// Switches the UART's loopback on or off from a second descriptor, as a test bench would;
// the port under test keeps its own.
void UartLoopback(const std::string& path, bool on)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    int bits = kModemLoop;
    EXPECT_EQ(::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits), 0);
    ::close(fd);
}

TEST_F(DeviceTest, ModemLinesAreSetAndRead)
{
    for (const int f : {CLRDTR, SETDTR, CLRRTS, SETRTS})
        EXPECT_TRUE(port->EscapeFunction(f)) << f << ": " << port->LastErrorText();
    std::uint32_t status = 0;
    EXPECT_TRUE(port->GetModemStatus(&status)) << port->LastErrorText();
    EXPECT_FALSE(port->EscapeFunction(99));
    EXPECT_EQ(port->LastErrno(), EINVAL);
}

// A rate the device cannot make is refused, not reported as set: the emulated 16550A's clock
// (1.8432 MHz) makes at most 115200 bit/s. The kernel takes the request without an error and
// keeps the old rate; the driver reads it back.
TEST_F(DeviceTest, ARateTheDeviceCannotMakeIsRefusedAndTheOldOneKept)
{
    if (!IsUart(pty.SlavePath()))
        GTEST_SKIP() << "the rate beyond the device is the 16550A's";
    const std::uint32_t beyond = 230400;
    SerialState state;
    ASSERT_TRUE(port->GetState(state));
    state.BaudRate = 57600;
    ASSERT_TRUE(port->SetState(state)) << port->LastErrorText();

    SerialState asked = state;
    asked.BaudRate = beyond;
    EXPECT_FALSE(port->SetState(asked));
    EXPECT_EQ(port->LastErrno(), EINVAL);
    EXPECT_EQ(port->LastErrorText(), "the device does not take " + std::to_string(beyond) +
                                         " bit/s (it stays at 57600 bit/s)");
    SerialState now;
    ASSERT_TRUE(port->GetState(now));
    EXPECT_EQ(now.BaudRate, 57600u);
    // The device itself, as another opener sees it.
    const int fd = ::open(pty.SlavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    std::uint32_t kernel = 0;
    EXPECT_EQ(GetLineSpeed(fd, &kernel), 0);
    ::close(fd);
    EXPECT_EQ(kernel, 57600u);
    // The highest rate it does make is still taken.
    asked.BaudRate = 115200;
    EXPECT_TRUE(port->SetState(asked)) << port->LastErrorText();
}

TEST_F(DeviceTest, UartLoopbackShowsDtrAsDsrAndRtsAsCtsAndEchoesData)
{
    if (!IsUart(pty.SlavePath()))
        GTEST_SKIP() << "loopback is the 8250 UART's";
    UartLoopback(pty.SlavePath(), true);
    const struct
    {
        int dtr, rts;
        std::uint32_t expected;
    } cases[] = {{SETDTR, SETRTS, MS_DSR_ON | MS_CTS_ON},
                 {CLRDTR, SETRTS, MS_CTS_ON},
                 {SETDTR, CLRRTS, MS_DSR_ON},
                 {CLRDTR, CLRRTS, 0}};
    for (const auto& c : cases) {
        ASSERT_TRUE(port->EscapeFunction(c.dtr));
        ASSERT_TRUE(port->EscapeFunction(c.rts));
        std::uint32_t status = 0;
        ASSERT_TRUE(port->GetModemStatus(&status));
        EXPECT_EQ(status & (MS_DSR_ON | MS_CTS_ON), c.expected) << c.dtr << " " << c.rts;
    }
    // CTS flow control holds the output while RTS (looped to CTS) is low.
    SerialState s;
    ASSERT_TRUE(port->GetState(s));
    s.fOutxCtsFlow = true;
    ASSERT_TRUE(port->SetState(s));
    ASSERT_TRUE(port->EscapeFunction(CLRRTS));
    std::uint32_t errors = 0;
    SerialStatus status;
    EXPECT_TRUE(WaitFor([&] {
        port->ClearError(&errors, &status);
        return (status.Flags & fCtsHold) != 0;
    }));
    ASSERT_TRUE(port->EscapeFunction(SETRTS));
    EXPECT_TRUE(WaitFor([&] {
        port->ClearError(&errors, &status);
        return (status.Flags & fCtsHold) == 0;
    }));
    s.fOutxCtsFlow = false;
    ASSERT_TRUE(port->SetState(s));
    ASSERT_TRUE(port->EscapeFunction(SETDTR));
    ASSERT_TRUE(port->EscapeFunction(SETRTS));

    UsePacketTimeouts();
    std::size_t written = 0;
    ASSERT_EQ(port->Write("echo", 4, &written, 2s), SerialResult::Ok);
    std::string back;
    ASSERT_TRUE(WaitFor([&] {
        back += ReadString(16);
        return back.size() >= 4;
    }));
    EXPECT_EQ(back, "echo");
    UartLoopback(pty.SlavePath(), false);
}

TEST_F(DeviceTest, TheTransmitQueueStaysShortWhileTheWriterKeepsGoing)
{
    std::atomic<bool> stop{false};
    std::atomic<std::uint32_t> deepest{0};
    auto writer = std::async(std::launch::async, [&] {
        const std::string chunk(512, 'q');
        while (!stop) {
            std::size_t n = 0;
            if (port->Write(chunk.data(), chunk.size(), &n, 20ms) == SerialResult::IoError)
                return false;
        }
        return true;
    });
    const auto until = Clock::now() + 1s;
    std::size_t received = 0;
    while (Clock::now() < until) {
        received += pty.ReadFor(5ms).size();
        std::uint32_t errors = 0;
        SerialStatus status;
        port->ClearError(&errors, &status);
        deepest = std::max(deepest.load(), status.cbOutQue);
    }
    stop = true;
    EXPECT_TRUE(writer.get());
    while (!pty.ReadFor(200ms).empty()) {
    }
    EXPECT_GT(received, 0u);
    // The kernel's queue (at most 128 bytes) plus one Write not yet handed over.
    EXPECT_LE(deepest.load(), 128u + 512u);
    hostpeer::Figure("deepest_out_queue", std::to_string(deepest.load()));
}

// The peer reads as fast as it can and sends XOFF (five rounds). What it receives after the
// hold took effect in the driver was, at that moment, on the link (the harness's cable and the
// peer's own port, which takes bytes slower than the device sends them), in the kernel's
// transmit queue (the driver keeps at most 128 bytes there) or in the UART's FIFO. The link's
// share is what the device had sent by then and the peer not yet received; the rest is what
// the device still let out after the hold: at most the queue cap and a FIFO, and one chunk
// the writer may have been handing over.
TEST_F(DeviceTest, AfterTheHoldTheDeviceLetsOutAtMostTheQueueCapAndItsFifo)
{
    UsePacketTimeouts();
    UseXonXoff(true);
    constexpr std::size_t kChunk = 64;
    std::atomic<bool> stop{false};
    std::atomic<std::size_t> sent{0};
    auto writer = std::async(std::launch::async, [&] {
        const std::string chunk(kChunk, 'x');
        while (!stop) {
            std::size_t n = 0;
            const SerialResult r = port->Write(chunk.data(), chunk.size(), &n, 20ms);
            sent += n;
            if (r == SerialResult::IoError)
                return false;
        }
        return true;
    });
    std::atomic<std::size_t> received{0};
    std::atomic<bool> reading{true};
    std::atomic<Clock::rep> lastArrival{0};
    auto reader = std::async(std::launch::async, [&] {
        while (reading) {
            const std::size_t n = pty.ReadFor(1ms).size();
            if (n == 0)
                continue;
            received += n;
            lastArrival = Clock::now().time_since_epoch().count();
        }
    });
    const auto quiet = [&] {
        return Clock::now().time_since_epoch().count() - lastArrival.load() >
               std::chrono::duration_cast<Clock::duration>(300ms).count();
    };
    struct Round
    {
        std::size_t afterXoff, afterHold, onLink, letOut;
    };
    std::vector<Round> rounds;
    for (int round = 0; round < 5; ++round) {
        const std::size_t start = received;
        ASSERT_TRUE(WaitFor([&] { return received >= start + 4096; }, 10s)) << round;
        const std::size_t atXoff = received;
        ASSERT_EQ(pty.Write("\x13"), 1u);
        const auto limit = Clock::now() + 5s;
        while (!port->OutputHeld() && Clock::now() < limit)
            std::this_thread::yield();
        const std::size_t atHold = received;
        std::uint32_t errors = 0;
        SerialStatus status;
        port->ClearError(&errors, &status);
        const std::size_t sentAtHold = sent;
        ASSERT_TRUE(port->OutputHeld()) << round;
        EXPECT_TRUE(WaitFor(quiet, 30s)) << round;
        const std::size_t total = received;
        // The device had sent what was handed over less what its queue still held.
        const std::size_t deviceSent =
            sentAtHold > status.cbOutQue ? sentAtHold - status.cbOutQue : 0;
        const std::size_t onLink = deviceSent > atHold ? deviceSent - atHold : 0;
        const std::size_t afterHold = total - atHold;
        rounds.push_back(
            {total - atXoff, afterHold, onLink, afterHold > onLink ? afterHold - onLink : 0});
        ASSERT_EQ(pty.Write("\x11"), 1u);
    }
    stop = true;
    EXPECT_TRUE(writer.get());
    EXPECT_TRUE(WaitFor(quiet, 30s));
    reading = false;
    reader.get();
    EXPECT_EQ(received.load(), sent.load()) << "bytes were lost on the way";
    std::size_t worst = 0;
    for (const Round& r : rounds) {
        hostpeer::Figure("after_xoff/after_hold/on_link/let_out",
                         std::to_string(r.afterXoff) + "/" + std::to_string(r.afterHold) + "/" +
                             std::to_string(r.onLink) + "/" + std::to_string(r.letOut));
        worst = std::max(worst, r.letOut);
    }
    EXPECT_LE(worst, 128u + 16u + kChunk);
}

} // namespace
