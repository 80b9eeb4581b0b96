// XON/XOFF output flow control handled by the serial driver, against a real pseudo-terminal
// whose master plays the unit (or a real device and its peer: see LineUnderTest).
#include "SerialPortTestSupport.h"

#include <atomic>
#include <future>
#include <gtest/gtest.h>

namespace {

using namespace serialtest;

const std::string kXoff("\x13");
const std::string kXon("\x11");

class SerialFlowTest : public PtyFixture
{
protected:
    void SetUp() override
    {
        PtyFixture::SetUp();
        UsePacketTimeouts();
        UseXonXoff(true);
    }

    void HoldByPeer()
    {
        ASSERT_EQ(pty.Write(kXoff), 1u);
        ASSERT_TRUE(WaitFor([&] { return port->OutputHeld(); }, 2s));
    }

    bool StatusShowsHold()
    {
        std::uint32_t errors = 0;
        SerialStatus status;
        port->ClearError(&errors, &status);
        return (status.Flags & fXoffHold) != 0;
    }
};

TEST_F(SerialFlowTest, XoffHoldsOutputUntilXon)
{
    HoldByPeer();
    EXPECT_TRUE(StatusShowsHold());

    std::size_t written = 99;
    EXPECT_EQ(port->Write("blocked", 7, &written, 50ms), SerialResult::Timeout);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(pty.ReadFor(100ms), "");

    auto writer = std::async(std::launch::async, [&] {
        std::size_t n = 0;
        const SerialResult r = port->Write("released", 8, &n, 10s);
        return r == SerialResult::Ok ? n : 0;
    });
    EXPECT_EQ(writer.wait_for(100ms), std::future_status::timeout);
    EXPECT_EQ(pty.ReadFor(50ms), "");
    ASSERT_EQ(pty.Write(kXon), 1u);
    EXPECT_EQ(writer.get(), 8u);
    EXPECT_EQ(pty.Read(8, 5s), "released");
    EXPECT_FALSE(port->OutputHeld());
    EXPECT_FALSE(StatusShowsHold());
}

TEST_F(SerialFlowTest, NothingReachesThePeerAfterItsXoffWhileTheWriterKeepsGoing)
{
    std::atomic<bool> stop{false};
    std::atomic<std::size_t> sent{0};
    auto writer = std::async(std::launch::async, [&] {
        const std::string chunk(64, 'w');
        while (!stop) {
            std::size_t n = 0;
            const SerialResult r = port->Write(chunk.data(), chunk.size(), &n, 20ms);
            sent += n;
            if (r != SerialResult::Ok && r != SerialResult::Timeout)
                return r;
        }
        return SerialResult::Ok;
    });
    std::string before = pty.Read(4096, 5s);
    ASSERT_EQ(before.size(), 4096u);
    HoldByPeer();
    // Bytes handed over before the hold may still be on their way through the pty (it holds
    // about 20 KiB): let them come until the line has been quiet for a while.
    const auto limit = Clock::now() + 10s;
    while (!pty.ReadFor(50ms).empty() && Clock::now() < limit) {
    }
    EXPECT_EQ(pty.ReadFor(300ms), "");
    ASSERT_EQ(pty.Write(kXon), 1u);
    EXPECT_EQ(pty.Read(1024, 5s).size(), 1024u);
    stop = true;
    EXPECT_EQ(writer.get(), SerialResult::Ok);
}

TEST_F(SerialFlowTest, FlowBytesNeverReachReadsUnlessFlowControlIsOff)
{
    const std::string mixed = "a" + kXoff + "b" + kXon + "c";
    ASSERT_EQ(pty.Write(mixed), mixed.size());
    EXPECT_EQ(ReadString(160), "abc");
    EXPECT_FALSE(port->OutputHeld());

    UseXonXoff(false);
    ASSERT_EQ(pty.Write(mixed), mixed.size());
    EXPECT_EQ(ReadString(160), mixed);
    EXPECT_FALSE(port->OutputHeld());
    std::size_t written = 0;
    EXPECT_EQ(port->Write("free", 4, &written, 1s), SerialResult::Ok);
    EXPECT_EQ(pty.Read(4, 2s), "free");
}

TEST_F(SerialFlowTest, AnXoffIsSeenEvenWhenTheInputQueueIsFull)
{
    ASSERT_TRUE(port->SetupQueues(16, 16));
    ASSERT_EQ(pty.Write(std::string(40, 'f') + kXoff), 41u);
    ASSERT_TRUE(WaitFor([&] { return port->OutputHeld(); }, 2s));
    std::uint32_t errors = 0;
    SerialStatus status;
    port->ClearError(&errors, &status);
    EXPECT_NE(errors & CE_RXOVER, 0u);
    EXPECT_NE(status.Flags & fXoffHold, 0u);
    EXPECT_EQ(status.cbInQue, 16u);
}

TEST_F(SerialFlowTest, SwitchingFlowControlOffReleasesAHold)
{
    HoldByPeer();
    UseXonXoff(false);
    EXPECT_FALSE(port->OutputHeld());
    std::size_t written = 0;
    EXPECT_EQ(port->Write("go", 2, &written, 1s), SerialResult::Ok);
    EXPECT_EQ(pty.Read(2, 2s), "go");
}

// Only the peer's XON ends its hold; a purge abandons the held write and keeps the hold.
TEST_F(SerialFlowTest, PurgeEndsAHeldWriteAndKeepsTheHold)
{
    HoldByPeer();
    auto writer = std::async(std::launch::async, [&] {
        std::size_t n = 0;
        return port->Write("held", 4, &n, 10s);
    });
    EXPECT_EQ(writer.wait_for(100ms), std::future_status::timeout);
    port->Purge();
    ASSERT_EQ(writer.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(writer.get(), SerialResult::Aborted);
    EXPECT_TRUE(port->OutputHeld());
    EXPECT_TRUE(StatusShowsHold());
    std::size_t written = 0;
    EXPECT_EQ(port->Write("after", 5, &written, 300ms), SerialResult::Timeout);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(pty.ReadFor(200ms), "");
    ASSERT_EQ(pty.Write(kXon), 1u);
    ASSERT_TRUE(WaitFor([&] { return !port->OutputHeld(); }, 2s));
    EXPECT_EQ(port->Write("after", 5, &written, 1s), SerialResult::Ok);
    EXPECT_EQ(pty.Read(5, 2s), "after");
}

TEST_F(SerialFlowTest, AFillingInputQueueHoldsThePeerWithXoffUntilItDrains)
{
    ASSERT_TRUE(port->SetupQueues(100, 100));
    SerialState s;
    ASSERT_TRUE(port->GetState(s));
    s.fInX = true;
    s.XoffLim = 20; // XOFF when at most 20 bytes are free
    s.XonLim = 10;  // XON when at most 10 bytes are left
    ASSERT_TRUE(port->SetState(s));

    ASSERT_EQ(pty.Write(std::string(85, 'd')), 85u);
    EXPECT_EQ(pty.Read(1, 5s), kXoff);
    std::uint32_t errors = 0;
    SerialStatus status;
    // On a real line the last bytes may still be on their way when the XOFF is seen.
    EXPECT_TRUE(WaitFor([&] {
        port->ClearError(&errors, &status);
        return status.cbInQue == 85u;
    })) << status.cbInQue;
    EXPECT_NE(status.Flags & fXoffSent, 0u);

    EXPECT_EQ(ReadString(70).size(), 70u);
    EXPECT_EQ(pty.ReadFor(50ms), ""); // 15 left: still above XonLim
    EXPECT_EQ(ReadString(10).size(), 10u);
    EXPECT_EQ(pty.Read(1, 5s), kXon);
    port->ClearError(&errors, &status);
    EXPECT_EQ(status.Flags & fXoffSent, 0u);
}

} // namespace
