// What the unit record keeps of a cycle, and the line's troubles during a transfer: bytes the
// driver has not taken, the Comm Setup page, the unit's hold and its restarts, line errors.
#include "RecordingHost.h"
#include "platform/SerialPort.h"

namespace engine_test {
namespace {

using Calls = std::vector<std::string>;
using namespace std::chrono_literals;

struct TakenCase
{
    const char* name;
    bool wakeUpByteOutstanding; // the driver's reports cover it first
    std::uint64_t taken;
    std::uint64_t lines;
    std::uint64_t bytes;
};

const TakenCase TakenCases[] = {
    {"NothingTaken", false, 0, 0, 0},     {"PartOfALine", false, 2, 0, 0},
    {"OneLine", false, 3, 1, 3},          {"TwoLines", false, 6, 2, 6},
    {"OnlyTheWakeUpByte", true, 3, 0, 0}, {"WakeUpByteAndOneLine", true, 4, 1, 3},
};

class Taken : public EngineTest, public ::testing::WithParamInterface<TakenCase>
{
};

TEST_P(Taken, OnlyLinesTheDriverTookCountAsSent)
{
    const TakenCase& c = GetParam();
    engine.Connect("");
    if (c.wakeUpByteOutstanding)
        engine.WakeUpTick();
    engine.Packet("Please start up\r\n");
    engine.Transfer(File("l1\r\nl2\r\n"));
    engine.SendProgress(c.taken, 0, false);
    engine.Cancel();
    ASSERT_EQ(host.records.size(), 1u);
    EXPECT_EQ(host.records[0].outcome, upload::UnitOutcome::Cancelled);
    EXPECT_EQ(host.records[0].linesSent, c.lines);
    EXPECT_EQ(host.records[0].bytesSent, c.bytes);
}

INSTANTIATE_TEST_SUITE_P(Reports, Taken, ::testing::ValuesIn(TakenCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineTest, EnteringCommSetupDuringATransferOnlyPurges)
{
    Greet();
    engine.Transfer(File("l1\r\nl2\r\n"));
    host.calls.clear();
    engine.CommPageEntered();
    EXPECT_EQ(Take(), Calls{"purge"});
    EXPECT_TRUE(engine.Transferring());
    DrainAll();
    EXPECT_EQ(host.sent, "l1\nl2\n\n");
    EXPECT_EQ(Take("status:"), Calls{"status:Finished Uploading"});
}

// Entering Comm Setup puts the dialogue back to waiting while the transfer goes on; after
// Connect the unit's messages are still those that end the transfer: a greeting must not
// enable Select File with the file still going out, nor "Download failed" be only shown.
struct RestartCase
{
    const char* name;
    std::string packet;
    std::string status;
    std::uint8_t state;
};

const RestartCase RestartCases[] = {
    {"Greeting", "Please start up\r\n", "status:Upload Failed!!!  The unit started again.",
     upload::Connected},
    {"DownloadFailed", "Download failed\r\n",
     "status:Download Failed!!!  Waiting for Connection...", upload::WaitingForUnit},
};

class ConnectAgain : public EngineTest, public ::testing::WithParamInterface<RestartCase>
{
};

TEST_P(ConnectAgain, TheUnitStillEndsTheTransfer)
{
    Greet();
    engine.Transfer(File("l1\r\nl2\r\n"));
    engine.CommPageEntered();
    engine.Connect("");
    host.calls.clear();
    engine.Packet(GetParam().packet);
    EXPECT_FALSE(engine.Transferring());
    const Calls statuses = Take("status:");
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.front(), GetParam().status);
    EXPECT_EQ(engine.DialogueState(), GetParam().state);
}

INSTANTIATE_TEST_SUITE_P(MidTransfer, ConnectAgain, ::testing::ValuesIn(RestartCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A transfer whose unit holds the line from its first bytes.
class Held : public EngineTest
{
protected:
    void SetUp() override
    {
        Greet();
        engine.Transfer(File("l1\r\nl2\r\n"));
        engine.HoldChanged(true);
        ASSERT_EQ(Take("lamp:"), Calls{"lamp:on"});
    }
};

TEST_F(Held, DownloadFailedUnderTheHoldEndsTheTransfer)
{
    engine.Packet("Download failed\r\n");
    const std::string status = "Download Failed!!!  Waiting for Connection...";
    EXPECT_EQ(Take(), (Calls{"abandon", "priority:normal", "lamp:off", "page:comm",
                             "term:Download failed--", "log:received : Download failed--",
                             "status:" + status, "log:status : " + status, "record:download-failed",
                             "flush"}));
    EXPECT_EQ(engine.DialogueState(), upload::WaitingForUnit);
    EXPECT_FALSE(engine.Transferring());
}

TEST_F(Held, AGreetingEndsTheTransferAndReleasesTheHold)
{
    engine.Packet("Please start up\r\n");
    const std::string failed = "Upload Failed!!!  The unit started again.";
    EXPECT_EQ(Take(),
              (Calls{"release", "lamp:off", "abandon", "priority:normal", "status:" + failed,
                     "log:status : " + failed, "timer:off", "browse:on", "progress:0",
                     "page:upload", "record:no-result", "status:Connection established",
                     "log:status : Connection established", "term:Please start up--", "flush"}));
    EXPECT_EQ(engine.DialogueState(), upload::Connected);
    EXPECT_FALSE(engine.Held());
    EXPECT_FALSE(engine.Transferring());
}

TEST_F(Held, ALongHoldShowsItsAgeUntilItEnds)
{
    struct
    {
        std::chrono::seconds after;
        Calls status;
    } ticks[] = {
        {1s, {}},
        {1s, {}},
        {1s, {"status:Unit holding the line: 3 s"}},
        {4s, {"status:Unit holding the line: 7 s"}},
    };
    for (const auto& tick : ticks) {
        host.Advance(tick.after);
        engine.ClockTick();
        EXPECT_EQ(Take(), tick.status);
    }
    engine.HoldChanged(false);
    EXPECT_EQ(Take(), (Calls{"lamp:off", "status:Transferring file fw.txt"}));
    EXPECT_TRUE(engine.Transferring());
}

TEST_F(Held, CancelDoesNotWaitForTheHold)
{
    host.Advance(2s);
    engine.Cancel();
    EXPECT_EQ(Take(), (Calls{"abandon", "priority:normal", "lamp:off", "record:cancelled",
                             "status:Upload Canceled", "log:status : Upload Canceled"}));
    ASSERT_EQ(host.records.size(), 1u);
    EXPECT_EQ(host.records[0].xoffHolds, 1u);
    EXPECT_EQ(host.records[0].longestHoldMs, 2000);
}

TEST_F(EngineTest, LineErrorsAreLoggedOnceAndAllCounted)
{
    engine.LineErrors(CE_FRAME); // before any transfer: not the unit's cycle
    Greet();
    engine.Transfer(File("l1\r\n"));
    host.calls.clear();
    engine.LineErrors(CE_FRAME);
    engine.LineErrors(CE_FRAME);
    EXPECT_EQ(Take(), Calls{"log:status : Line error during the upload: framing error (check "
                            "the line speed and the character format)"});
    engine.Cancel();
    ASSERT_EQ(host.records.size(), 1u);
    EXPECT_EQ(host.records[0].lineErrors, 2u);
}

// --- The unit record ---

TEST_F(EngineTest, TheVerdictCompletesTheRecord)
{
    Greet();
    engine.Transfer(File("abc"));
    host.Advance(2s);
    DrainAll();
    engine.Packet("programming complete\r\n");
    engine.Packet("CRC is OK\r\n");
    ASSERT_EQ(host.records.size(), 1u);
    const upload::UnitRecord& r = host.records[0];
    EXPECT_EQ(r.outcome, upload::UnitOutcome::CrcOk);
    EXPECT_EQ(r.sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(r.fileSize, 3u);
    EXPECT_EQ(r.file, "/lab/fw.txt");
    EXPECT_EQ(r.port, "COM2");
    EXPECT_EQ(r.device, "/dev/ttyUSB0");
    EXPECT_EQ(r.baud, 9600u);
    EXPECT_EQ(r.linesSent, 1u);
    EXPECT_EQ(r.bytesSent, 4u);
    EXPECT_EQ(r.transferMs, 2000);
    EXPECT_EQ(r.end.utc - r.start.utc, 2s);
}

// The silence bound is the program's one setting; each test gets it back.
class SilenceBound : public EngineTest
{
protected:
    void SetUp() override { upload::UnitRecorder::ResultBound = 5s; }
    void TearDown() override { upload::UnitRecorder::ResultBound = saved; }
    const std::chrono::milliseconds saved = upload::UnitRecorder::ResultBound;
};

TEST_F(SilenceBound, ASilentUnitGivesNoResult)
{
    Transferred();
    host.Advance(4s);
    engine.ClockTick();
    // Whatever the unit says starts the bound again.
    engine.Packet("Erasing...\r\n");
    host.Advance(4s);
    engine.ClockTick();
    EXPECT_TRUE(host.records.empty());
    host.Advance(1s);
    engine.ClockTick();
    ASSERT_EQ(host.records.size(), 1u);
    EXPECT_EQ(host.records[0].outcome, upload::UnitOutcome::NoResult);
    // The operator sees that no verdict came, and the tool waits for the next unit.
    EXPECT_EQ(Take("status:"), Calls{"status:No Result!!!  Waiting for Connection..."});
    EXPECT_EQ(engine.DialogueState(), upload::WaitingForUnit);
    engine.Packet("Please start up\r\n");
    EXPECT_EQ(engine.DialogueState(), upload::Connected);
}

TEST_F(EngineTest, AUnitThatStartsAgainBeforeItsVerdictGivesNoResultAndIsGreeted)
{
    for (const std::uint8_t verdictState :
         {upload::AwaitingProgramResult, upload::AwaitingCrcResult}) {
        SCOPED_TRACE(int(verdictState));
        Transferred();
        if (verdictState == upload::AwaitingCrcResult)
            engine.Packet("programming complete\r\n");
        ASSERT_EQ(engine.DialogueState(), verdictState);
        const std::size_t before = host.records.size();
        host.calls.clear();
        engine.Packet("Please start up\r\n");
        ASSERT_EQ(host.records.size(), before + 1);
        EXPECT_EQ(host.records.back().outcome, upload::UnitOutcome::NoResult);
        EXPECT_EQ(Take("status:"), (Calls{"status:No Result!!!  Waiting for Connection...",
                                          "status:Connection established"}));
        EXPECT_EQ(engine.DialogueState(), upload::Connected);
    }
}

TEST_F(EngineTest, AGreetingBeforeTheVerdictGivesNoResult)
{
    Transferred();
    engine.CommPageEntered();
    engine.Connect("");
    engine.Packet("Please start up\r\n");
    ASSERT_EQ(host.records.size(), 1u);
    EXPECT_EQ(host.records[0].outcome, upload::UnitOutcome::NoResult);
}

struct CloseCase
{
    const char* name;
    bool transferEnded;
    Calls statuses;
    upload::UnitOutcome outcome;
};

const CloseCase CloseCases[] = {
    {"DuringTheTransfer", false, {"status:Upload Canceled"}, upload::UnitOutcome::Cancelled},
    {"AwaitingTheVerdict", true, {}, upload::UnitOutcome::NoResult},
};

class Close : public EngineTest, public ::testing::WithParamInterface<CloseCase>
{
};

TEST_P(Close, TheOpenCycleIsRecorded)
{
    Greet();
    engine.Transfer(File("l1\r\n"));
    if (GetParam().transferEnded)
        DrainAll();
    host.calls.clear();
    engine.Close();
    EXPECT_EQ(Take("status:"), GetParam().statuses);
    ASSERT_EQ(host.records.size(), 1u);
    EXPECT_EQ(host.records[0].outcome, GetParam().outcome);
    EXPECT_FALSE(engine.Transferring());
}

INSTANTIATE_TEST_SUITE_P(Program, Close, ::testing::ValuesIn(CloseCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace engine_test
