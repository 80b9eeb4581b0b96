// XON/XOFF output flow control, writes held by the peer, and the driver's status queries.
#include "SerialComponentsTestSupport.h"

#include <QTimer>
#include <cstdio>

using namespace serialtest;

namespace {

const std::string kXon("\x11");
const std::string kXoff("\x13");

class MyComFlowTest : public SerialComponentTest
{
protected:
    // An open TMyCom with XON/XOFF on, as the program uses it.
    TMyCom* OpenWithXonXoff(PacketLog* log = nullptr)
    {
        auto* com = new TMyCom(&owner);
        com->SetPort(kPort);
        com->SetBufSize(1024);
        com->SetBaud(115200);
        com->SetPacketSize(160);
        com->SetTimeout(10);
        com->SetXonXoff(true);
        if (log)
            com->OnPacketReceived = log->Handler();
        com->ComInit();
        EXPECT_TRUE(com->Initialized) << com->ErrorText;
        return com;
    }

    // Sends XOFF from the far end and waits until the component reports the hold.
    void HoldLine(TMyCom* com)
    {
        pty.Write(kXoff);
        ASSERT_TRUE(testapp::ProcessUntil([&] { return (com->GetStatus().Flags & fXoffHold) != 0; },
                                          kPatience));
    }

    SerialState State(TMyCom* com)
    {
        SerialState s;
        EXPECT_TRUE(com->PortDriver()->GetState(s));
        return s;
    }
};

TEST_F(MyComFlowTest, XonXoffIsAppliedByComInit)
{
    TMyCom com(&owner);
    com.SetPort(kPort);
    com.SetXonXoff(true); // closed: only recorded
    EXPECT_TRUE(com.XonXoff());
    com.ComInit();
    ASSERT_TRUE(com.Initialized);
    const SerialState s = State(&com);
    EXPECT_TRUE(s.fOutX);
    EXPECT_FALSE(s.fInX);
    EXPECT_FALSE(s.fOutxCtsFlow);
    EXPECT_FALSE(s.fOutxDsrFlow);
    EXPECT_EQ(s.fDtrControl, 1);
    EXPECT_EQ(s.fRtsControl, 1);
    EXPECT_EQ(s.XonChar, 0x11);
    EXPECT_EQ(s.XoffChar, 0x13);
}

TEST_F(MyComFlowTest, LimitsFollowTheBufferSize)
{
    struct Row
    {
        std::uint32_t bufSize;
        std::uint16_t xonLim, xoffLim;
    };
    for (const Row& row : {Row{128, 12, 115}, Row{1024, 102, 921}, Row{4096, 409, 3686},
                           Row{100000, 10000, 24464}}) {
        SCOPED_TRACE(row.bufSize);
        TMyCom com(&owner);
        com.SetPort(kPort);
        com.SetBufSize(row.bufSize);
        com.ComInit();
        ASSERT_TRUE(com.Initialized) << com.ErrorText;
        com.SetXonXoff(true);
        const SerialState s = State(&com);
        EXPECT_EQ(s.XonLim, row.xonLim);
        EXPECT_EQ(s.XoffLim, row.xoffLim);
    }
}

TEST_F(MyComFlowTest, SwitchingOffRestoresTheStateFromBeforeTheFirstSwitchOn)
{
    TMyCom com(&owner);
    com.SetPort(kPort);
    com.SetBaud(9600);
    com.SetDtrControl(dtrDisable);
    com.ComInit();
    ASSERT_TRUE(com.Initialized);
    const SerialState original = State(&com);
    ASSERT_FALSE(original.fOutX);

    com.SetXonXoff(true);
    com.SetBaud(19200);   // changed in between
    com.SetXonXoff(true); // saves nothing new
    EXPECT_EQ(State(&com).BaudRate, 19200u);
    EXPECT_TRUE(State(&com).fOutX);

    com.SetXonXoff(false);
    const SerialState restored = State(&com);
    EXPECT_EQ(restored.BaudRate, 9600u);
    EXPECT_FALSE(restored.fOutX);
    EXPECT_EQ(restored.fDtrControl, original.fDtrControl);
    EXPECT_EQ(restored.fRtsControl, original.fRtsControl);
    EXPECT_EQ(restored.XoffLim, original.XoffLim);

    // Nothing saved any more: switching off again writes nothing.
    com.SetBaud(38400);
    com.SetXonXoff(false);
    EXPECT_EQ(State(&com).BaudRate, 38400u);
}

TEST_F(MyComFlowTest, XoffHoldsTheLineUntilXonAndWriteWaitsMeanwhile)
{
    PacketLog log;
    TMyCom* com = OpenWithXonXoff(&log);
    // The flow control bytes never reach a packet.
    pty.Write("ab" + kXoff + "cd" + kXon + "ef");
    ASSERT_TRUE(log.WaitForBytes(6));
    testapp::ProcessFor(kSettle);
    EXPECT_EQ(log.Joined(), "abcdef");
    EXPECT_EQ(com->GetStatus().Flags & fXoffHold, 0u);

    HoldLine(com);
    std::string seenWhileHeld = "unset";
    bool xonSent = false;
    QTimer::singleShot(300ms, &owner, [&] {
        seenWhileHeld = pty.ReadFor(100ms);
        EXPECT_NE(com->GetStatus().Flags & fXoffHold, 0u);
        xonSent = true;
        pty.Write(kXon);
    });
    const std::string line = "S1130000FFFFFFFF\n";
    com->Write(line); // returns only once XON released the line
    EXPECT_TRUE(xonSent);
    EXPECT_EQ(seenWhileHeld, "");
    EXPECT_EQ(pty.Read(line.size(), kPatience), line);
    EXPECT_EQ(com->GetStatus().Flags & fXoffHold, 0u);
}

// Cancel, the Comm Setup page and the unit's packets after a transfer purge the port: a
// purge abandons a write that waits for the line, but only the peer's XON ends its hold, so
// nothing written after the purge (the next wake-up byte) reaches the peer before it.
TEST_F(MyComFlowTest, PurgeEndsAWaitingWriteAndKeepsThePeersHold)
{
    TMyCom* com = OpenWithXonXoff();
    HoldLine(com);
    bool purged = false;
    QTimer::singleShot(300ms, &owner, [&] {
        purged = true;
        com->Purge();
    });
    com->Write(std::string(3000, 'x')); // returns when the purge abandons it
    EXPECT_TRUE(purged);
    EXPECT_NE(com->GetStatus().Flags & fXoffHold, 0u) << "the purge ended the peer's hold";

    std::string seenBeforeXon = "unset";
    bool xonSent = false;
    QTimer::singleShot(300ms, &owner, [&] {
        seenBeforeXon = pty.ReadFor(100ms);
        EXPECT_NE(com->GetStatus().Flags & fXoffHold, 0u);
        xonSent = true;
        pty.Write(kXon);
    });
    com->Write("\r");
    EXPECT_TRUE(xonSent) << "the write did not wait for the peer's XON";
    EXPECT_EQ(seenBeforeXon, "");
    // After the XON: the wake-up byte, and nothing of the abandoned write.
    EXPECT_EQ(pty.ReadFor(kSettle), "\r");
    EXPECT_EQ(com->GetStatus().Flags & fXoffHold, 0u);
    com->Write("next");
    EXPECT_EQ(pty.Read(4, kPatience), "next");
}

// The end of a transfer as the main window meets it: the file's last lines are written,
// then the unit's first packet purges the port. The purge empties the input side only, so
// the peer receives every byte the writes reported as written.
TEST_F(MyComFlowTest, APurgeAfterTheLastWriteLosesNothingOfTheFile)
{
    TMyCom* com = OpenWithXonXoff();
    std::string file;
    for (int n = 0; n < 150; ++n) {
        char line[96];
        std::snprintf(line, sizeof line, "S113%04X%064d\n", n * 16, n);
        file += line;
        com->Write(line);
    }
    pty.Write("programming complete\r\n");
    com->Purge();
    EXPECT_EQ(pty.Read(file.size(), kPatience), file);
    EXPECT_EQ(pty.ReadFor(kSettle), "");
}

// Switching output flow control off, and closing the port, end a hold as well.
TEST_F(MyComFlowTest, FlowControlOffOrAReopenEndsTheHold)
{
    TMyCom* com = OpenWithXonXoff();
    HoldLine(com);
    com->SetXonXoff(false);
    EXPECT_EQ(com->GetStatus().Flags & fXoffHold, 0u);
    com->Write("off");
    EXPECT_EQ(pty.Read(3, kPatience), "off");

    com->SetXonXoff(true);
    HoldLine(com);
    com->ComInit();
    EXPECT_EQ(com->GetStatus().Flags & fXoffHold, 0u);
    com->Write("reopened");
    EXPECT_EQ(pty.Read(8, kPatience), "reopened");
}

TEST_F(MyComFlowTest, WriteFromAHandlerWaitsBehindTheHeldWrite)
{
    SKIP_ON_REAL_DEVICE(LINE_PAUSES_WITHIN_A_WRITE);
    PacketLog log;
    TMyCom* com = OpenWithXonXoff();
    com->OnPacketReceived = [&](TObject* Sender, AnsiString& buffer) {
        log.Handler()(Sender, buffer);
        com->Write("<" + buffer + ">");
    };
    com->ComInit();
    HoldLine(com);
    QTimer::singleShot(200ms, &owner, [&] { pty.Write("ping"); });
    bool released = false;
    QTimer::singleShot(200ms, &owner, [&] {
        // Once the handler has run, release the line.
        testapp::ProcessUntil([&] { return log.Joined().size() >= 4; }, kPatience);
        released = true;
        pty.Write(kXon);
    });
    com->Write("OUTER LINE\n");
    EXPECT_TRUE(released);
    EXPECT_EQ(pty.ReadUntil("<ping>", kPatience), "OUTER LINE\n<ping>");
}

TEST_F(MyComFlowTest, WritesQueuedBehindAPurgedWriteAreDroppedWithIt)
{
    PacketLog log;
    TMyCom* com = OpenWithXonXoff();
    com->OnPacketReceived = [&](TObject* Sender, AnsiString& buffer) {
        log.Handler()(Sender, buffer);
        com->Write("queued");
    };
    com->ComInit();
    HoldLine(com);
    QTimer::singleShot(100ms, &owner, [&] { pty.Write("ping"); });
    QTimer::singleShot(200ms, &owner, [&] {
        testapp::ProcessUntil([&] { return !log.packets.empty(); }, kPatience);
        com->Purge();
    });
    com->Write("held");
    EXPECT_EQ(log.Joined(), "ping");
    EXPECT_EQ(pty.ReadFor(kSettle), "");
}

TEST_F(MyComFlowTest, OverflowIsReportedOnceByTheErrorQuery)
{
    TMyCom com(&owner);
    com.SetPort(kPort);
    com.SetBufSize(128);
    com.OnPacketReceived = [](TObject*, AnsiString&) {};
    com.ComInit();
    ASSERT_TRUE(com.Initialized);
    // Without message handling the reader waits to deliver; the rest piles up and overflows.
    // A real line takes its time to bring the burst (an emulated UART on a busy host more):
    // the flags are cleared only once all of it has come.
    const auto burst = LineUnderTest::OnRealDevice() ? 3s : 500ms;
    pty.Write(std::string(2000, 'o'));
    std::this_thread::sleep_for(burst);
    const SerialStatus status = com.GetStatus();
    EXPECT_GT(status.cbInQue, 0u);
    EXPECT_LE(status.cbInQue, 128u);
    // GetStatus has cleared the flags already; query again after a new overflow.
    testapp::ProcessFor(kSettle);
    EXPECT_EQ(com.GetErrors() & CE_RXOVER, 0u);
    pty.Write(std::string(2000, 'o'));
    std::this_thread::sleep_for(burst);
    EXPECT_NE(com.GetErrors() & CE_RXOVER, 0u);
    EXPECT_EQ(com.GetErrors() & CE_RXOVER, 0u);
}

} // namespace
