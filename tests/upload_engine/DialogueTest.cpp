// The dialogue with the unit: which packet moves the cycle on in which state, and what the
// operator is shown and the log keeps of it.
#include "RecordingHost.h"

#include <functional>

namespace engine_test {
namespace {

using Calls = std::vector<std::string>;

enum class Stage
{
    BeforeConnect,
    Waiting,       // Connect pressed
    Connected,     // the unit greeted
    ProgramResult, // the file was sent
    CrcResult,     // the unit programmed it
};

struct DialogueCase
{
    const char* name;
    Stage stage;
    std::vector<std::string> packets;
    Calls calls;
    std::uint8_t state;
};

// A verdict's calls: the pane shows the text that led to the status with it.
Calls Verdict(const std::string& shown, const std::string& status, const char* record)
{
    Calls calls{"page:comm", "term:" + shown, "log:received : " + shown, "status:" + status,
                "log:status : " + status};
    if (record)
        calls.push_back(std::string("record:") + record);
    calls.push_back("flush");
    return calls;
}

const Calls GreetingCalls = {"timer:off",
                             "browse:on",
                             "progress:0",
                             "page:upload",
                             "status:Connection established",
                             "log:status : Connection established"};

Calls Join(Calls a, const Calls& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::string Waiting = "Waiting for Connection...";

const DialogueCase DialogueCases[] = {
    {"UnitTextBeforeConnectIsOnlyShown",
     Stage::BeforeConnect,
     {"Please start up\r\n"},
     {"term:Please start up--"},
     0},
    {"FullStopsAloneShowNothing", Stage::BeforeConnect, {"..."}, {}, 0},
    {"GreetingConnects",
     Stage::Waiting,
     {"Please start up\r\n"},
     Join(GreetingCalls, {"term:Please start up--", "flush"}),
     1},
    {"LowerCaseGreetingIsNoGreeting",
     Stage::Waiting,
     {"please start up\r\n"},
     {"term:please start up--"},
     0},
    {"GreetingSplitAcrossPackets",
     Stage::Waiting,
     {"Please st", "art up\r\n"},
     Join(Join({"term:Please st"}, GreetingCalls), {"term:art up--", "flush"}),
     1},
    {"EveryPacketWhileConnectedShowsTheInstructions",
     Stage::Connected,
     {"menu\r\n", "Please start up\r\n"},
     {"help:" + Instructions, "help:" + Instructions},
     1},
    {"ProgrammingComplete",
     Stage::ProgramResult,
     {"programming complete\r\n"},
     Verdict("programming complete--", "Programming Complete.  Checking CRC...", nullptr),
     4},
    {"ProgrammingFailed",
     Stage::ProgramResult,
     {"programming failed\r\n"},
     Verdict("programming failed--", "Programming Failed!!!  " + Waiting, "programming-failed"),
     0},
    {"DownloadFailed",
     Stage::ProgramResult,
     {"Download failed\r\n"},
     Verdict("Download failed--", "Download Failed!!!  " + Waiting, "download-failed"),
     0},
    {"ProgressTextIsPurgedShownAndLogged",
     Stage::ProgramResult,
     {"Erasing...\r\n"},
     {"purge", "term:Erasing--", "log:received : Erasing--"},
     3},
    {"FullStopsAloneStillPurge", Stage::ProgramResult, {"...."}, {"purge"}, 3},
    // The purge would drop the rest of a result the line cut in two.
    {"NoPurgeInsideAResultCutInTwo",
     Stage::ProgramResult,
     {"programming com", "plete\r\n"},
     Join({"term:programming com", "log:received : programming com"},
          Verdict("plete--", "Programming Complete.  Checking CRC...", nullptr)),
     4},
    {"CrcBad",
     Stage::CrcResult,
     {"CRC is BAD\r\n"},
     Verdict("CRC is BAD--", "CRC Bad!!!  " + Waiting, "crc-bad"),
     0},
    {"CrcOk",
     Stage::CrcResult,
     {"CRC is OK\r\n"},
     Verdict("CRC is OK--", "CRC OK!!!  " + Waiting, "crc-ok"),
     0},
    {"CrcOkWithAFullStop",
     Stage::CrcResult,
     {"CRC is O.K\r\n"},
     Verdict("CRC is OK--", "CRC OK!!!  " + Waiting, "crc-ok"),
     0},
    {"BothVerdictsTakeTheTablesOrder",
     Stage::CrcResult,
     {"CRC is OK CRC is BAD\r\n"},
     Verdict("CRC is OK CRC is BAD--", "CRC Bad!!!  " + Waiting, "crc-bad"),
     0},
    {"ProgrammingFailedAfterCompleteIsOnlyShown",
     Stage::CrcResult,
     {"programming failed\r\n"},
     {"term:programming failed--", "log:received : programming failed--"},
     4},
};

class Dialogue : public EngineTest, public ::testing::WithParamInterface<DialogueCase>
{
protected:
    void Reach(Stage stage)
    {
        switch (stage) {
        case Stage::BeforeConnect:
            return;
        case Stage::Waiting:
            engine.Connect("");
            break;
        case Stage::Connected:
            Greet();
            break;
        case Stage::ProgramResult:
            Transferred();
            break;
        case Stage::CrcResult:
            Transferred();
            engine.Packet("programming complete\r\n");
            break;
        }
        host.calls.clear();
    }
};

TEST_P(Dialogue, PacketsGiveTheirCallsAndState)
{
    const DialogueCase& c = GetParam();
    Reach(c.stage);
    for (const std::string& packet : c.packets)
        engine.Packet(packet);
    EXPECT_EQ(Take(), c.calls);
    EXPECT_EQ(engine.DialogueState(), c.state);
}

INSTANTIATE_TEST_SUITE_P(Packets, Dialogue, ::testing::ValuesIn(DialogueCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineTest, AfterAVerdictTheNextUnitGreetsWithoutConnect)
{
    Transferred();
    engine.Packet("programming complete\r\n");
    engine.Packet("CRC is OK\r\n");
    engine.Packet("Please start up\r\n");
    EXPECT_EQ(engine.DialogueState(), upload::Connected);
    EXPECT_EQ(Take("status:").back(), "status:Connection established");
}

TEST_F(EngineTest, AResultWithTheFocusOnTheUploadPageEntersCommSetup)
{
    Transferred();
    host.focusOnUploadPage = true;
    engine.Packet("programming complete\r\n");
    const Calls calls = Take();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(Calls(calls.begin(), calls.begin() + 2), (Calls{"page:comm", "purge"}));
    EXPECT_FALSE(engine.ConnectRequested());
    // The result's own state stands over the reset the page caused.
    EXPECT_EQ(engine.DialogueState(), upload::AwaitingCrcResult);
}

TEST_F(EngineTest, EnteringCommSetupEndsTheDialogue)
{
    Greet();
    engine.CommPageEntered();
    EXPECT_EQ(Take(), Calls{"purge"});
    EXPECT_EQ(engine.DialogueState(), upload::WaitingForUnit);
    EXPECT_FALSE(engine.ConnectRequested());
    // Nothing the unit says is looked at until Connect is pressed again.
    engine.Packet("Please start up\r\n");
    EXPECT_EQ(engine.DialogueState(), upload::WaitingForUnit);
}

TEST_F(EngineTest, ConnectSaysWhyNothingCanArrive)
{
    engine.Connect("Unable to open COM9: Access is denied.");
    EXPECT_EQ(Take(), (Calls{"timer:on", "status:Unable to open COM9: Access is denied.",
                             "log:status : Unable to open COM9: Access is denied."}));
    engine.Connect("");
    EXPECT_EQ(Take(), (Calls{"timer:on", "status:Waiting for connection to be established...",
                             "log:status : waiting for connection..."}));
    EXPECT_TRUE(engine.ConnectRequested());
}

TEST_F(EngineTest, AFailedLineIsReportedOnce)
{
    engine.LineFailed("Read Error: 5");
    engine.LineFailed("Send Error: 5");
    EXPECT_EQ(Take(), (Calls{"status:Read Error: 5", "log:status : Read Error: 5",
                             "advise:Read Error: 5"}));
    EXPECT_TRUE(engine.Failed());
}

// --- The wake-up byte ---

using Step = std::function<void(UploadEngine&)>;

const Step Tick = [](UploadEngine& e) { e.WakeUpTick(); };
const Step Taken = [](UploadEngine& e) { e.SendProgress(1, 0, true); };
const Step Dropped = [](UploadEngine& e) { e.SendProgress(0, 1, false); };
const Step Fails = [](UploadEngine& e) { e.LineFailed("Read Error: 5"); };
const Step Reopened = [](UploadEngine& e) { e.PortOpened(); };

struct WakeUpCase
{
    const char* name;
    std::vector<Step> steps;
    std::string sent;
};

const WakeUpCase WakeUpCases[] = {
    {"EachTickSendsACarriageReturn", {Tick, Taken, Tick, Taken, Tick}, "\r\r\r"},
    // Held bytes would all go out at once when the hold ends.
    {"NoByteJoinsOneStillOutstanding", {Tick, Tick, Tick}, "\r"},
    {"ADroppedByteIsNoLongerOutstanding", {Tick, Tick, Dropped, Tick}, "\r\r"},
    {"NoByteAfterTheLineFailed", {Tick, Taken, Fails, Tick, Tick}, "\r"},
    {"BytesResumeOnAReopenedPort", {Tick, Fails, Tick, Reopened, Tick}, "\r\r"},
};

class WakeUp : public EngineTest, public ::testing::WithParamInterface<WakeUpCase>
{
};

TEST_P(WakeUp, TicksSendWhatTheLineCanTake)
{
    engine.Connect("");
    for (const Step& step : GetParam().steps)
        step(engine);
    EXPECT_EQ(host.sent, GetParam().sent);
}

INSTANTIATE_TEST_SUITE_P(Ticks, WakeUp, ::testing::ValuesIn(WakeUpCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace engine_test
