// The transfer of a firmware file: the bytes that reach the port, the progress the operator
// sees, and how a transfer ends.
#include "RecordingHost.h"

#include <algorithm>

namespace engine_test {
namespace {

using Calls = std::vector<std::string>;

std::string Lines(int count, const std::string& line)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += line + "\r\n";
    return text;
}

// The files here are plain text: sent as they are, with a word about it.
const std::string Unchecked = "status:File not checked: not S-record or Intel HEX";

struct BytesCase
{
    const char* name;
    std::string file;
    bool addCr;
    std::string sent;
    std::uint64_t lines;
};

// The read after the last line end meets the end of the file and sends its empty line too.
const BytesCase BytesCases[] = {
    {"TwoLines", "l1\r\nl2\r\n", false, "l1\nl2\n\n", 3},
    {"LastLineWithoutLineEnd", "l1\r\nl2", false, "l1\nl2\n", 2},
    {"AddCrPutsCrAfterEachLf", "l1\r\nl2\r\n", true, "l1\n\rl2\n\r\n\r", 3},
    {"CrInsideALineIsDropped", "a\rb\r\n", false, "ab\n\n", 2},
    {"EndMarkEndsTheData", "l1\r\n\x1Al2\r\n", false, "l1\n\n", 2},
};

class Bytes : public EngineTest, public ::testing::WithParamInterface<BytesCase>
{
};

TEST_P(Bytes, FileLinesReachThePort)
{
    const BytesCase& c = GetParam();
    host.addCr = c.addCr;
    Greet();
    engine.Transfer(File(c.file));
    DrainAll();
    EXPECT_EQ(host.sent, c.sent);
    EXPECT_EQ(Take("status:").back(), "status:Finished Uploading");
    engine.Close();
    ASSERT_EQ(host.records.size(), 1u);
    EXPECT_EQ(host.records[0].linesSent, c.lines);
    EXPECT_EQ(host.records[0].bytesSent, c.sent.size());
}

INSTANTIATE_TEST_SUITE_P(Files, Bytes, ::testing::ValuesIn(BytesCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineTest, EveryTenthLineIsCounted)
{
    Greet();
    engine.Transfer(File(Lines(25, "data")));
    DrainAll();
    EXPECT_EQ(Take("status:"),
              (Calls{"status:Opening file fw.txt", Unchecked, "status:Transferring file fw.txt",
                     "status:Number of Lines: 10", "status:Number of Lines: 20",
                     "status:Finished Uploading"}));
}

TEST_F(EngineTest, ProgressRunsToAQuarterOfTheFileSize)
{
    Greet();
    engine.Transfer(File(Lines(50, "123456"))); // 400 bytes
    DrainAll();
    const Calls calls = Take();
    const auto max = std::find(calls.begin(), calls.end(), "max:100");
    ASSERT_NE(max, calls.end());
    int last = -1;
    for (auto it = max; it != calls.end(); ++it) {
        if (!it->starts_with("progress:"))
            continue;
        const int position = std::stoi(it->substr(9));
        EXPECT_LE(position, 100);
        last = position;
    }
    EXPECT_EQ(last, 100);
    EXPECT_EQ(
        Calls(calls.end() - 3, calls.end()),
        (Calls{"status:Finished Uploading", "log:status : Finished Uploading", "progress:100"}));
}

TEST_F(EngineTest, TheTransferEndsOnlyOnceEveryByteHasLeftTheDevice)
{
    Greet();
    engine.Transfer(File("l1\r\nl2\r\n"));
    engine.SendProgress(host.sent.size(), 0, false);
    EXPECT_TRUE(engine.Transferring());
    EXPECT_EQ(engine.DialogueState(), upload::Uploading);
    EXPECT_TRUE(Take("status:Finished").empty());
    engine.SendProgress(0, 0, true);
    EXPECT_FALSE(engine.Transferring());
    EXPECT_EQ(Take("status:"), Calls{"status:Finished Uploading"});
    EXPECT_EQ(engine.DialogueState(), upload::AwaitingProgramResult);
}

TEST_F(EngineTest, ALargeFileIsPacedByWhatTheDriverTook)
{
    const std::string file = Lines(400, "a line of text to be paced");
    Greet();
    engine.Transfer(File(file));
    // About an eighth of a second of the line ahead, never the whole file.
    EXPECT_LT(host.sent.size(), 1024u);
    DrainAll();
    EXPECT_EQ(host.sent.size(), file.size() - 400 + 1);
    EXPECT_FALSE(engine.Transferring());
}

TEST_F(EngineTest, CancelEndsTheTransfer)
{
    Greet();
    engine.Transfer(File(Lines(400, "line")));
    host.calls.clear();
    engine.Cancel();
    EXPECT_EQ(Take(), (Calls{"abandon", "priority:normal", "record:cancelled",
                             "status:Upload Canceled", "log:status : Upload Canceled"}));
    EXPECT_EQ(engine.DialogueState(), upload::AwaitingProgramResult);
    EXPECT_FALSE(engine.CancelRequest());
    EXPECT_FALSE(engine.Transferring());
}

TEST_F(EngineTest, ACancelBeforeTheTransferEndsItAtOnce)
{
    Greet();
    engine.Cancel();
    engine.Transfer(File("l1\r\n"));
    EXPECT_EQ(host.sent, "");
    EXPECT_EQ(Take("status:"),
              (Calls{"status:Opening file fw.txt", Unchecked, "status:Transferring file fw.txt",
                     "status:Upload Canceled"}));
    EXPECT_EQ(engine.DialogueState(), upload::AwaitingProgramResult);
    EXPECT_FALSE(engine.CancelRequest());
}

TEST_F(EngineTest, SingleStepAsksBeforeEachLine)
{
    host.singleStep = true;
    Greet();
    engine.Transfer(File("l1\r\nl2\r\n"));
    EXPECT_EQ(Take("step"), Calls{"step"});
    EXPECT_EQ(host.sent, "");
    const char* expected[] = {"l1\n", "l1\nl2\n", "l1\nl2\n\n"};
    for (const char* sent : expected) {
        engine.StepAnswered(true);
        EXPECT_EQ(host.sent, sent);
    }
    EXPECT_EQ(Take("step"), (Calls{"step", "step"}));
    DrainAll();
    EXPECT_EQ(Take("status:"), Calls{"status:Finished Uploading"});
}

TEST_F(EngineTest, ARefusedSendEndsTheTransferWithItsReason)
{
    Greet();
    host.refusal = "Com not initialized.";
    engine.Transfer(File("l1\r\n"));
    const Calls calls = Take();
    EXPECT_EQ(
        Calls(calls.end() - 6, calls.end()),
        (Calls{"abandon", "priority:normal", "record:send-error", "status:Com not initialized.",
               "log:status : Com not initialized.", "advise:Com not initialized."}));
    EXPECT_EQ(engine.DialogueState(), upload::AwaitingProgramResult);
    EXPECT_FALSE(engine.Transferring());
}

struct RefusedFileCase
{
    const char* name;
    upload::FirmwareFile file;
    Calls calls;
};

upload::FirmwareFile Unreadable()
{
    upload::FirmwareFile file = File("", "gone.s19");
    file.opened = false;
    file.error = "No such file or directory";
    return file;
}

// S19 whose second line's checksum is off by one.
const std::string BadSRecords = "S00600004844521B\r\n"
                                "S107000001020304EF\r\n"
                                "S9030000FC\r\n";

const RefusedFileCase RefusedFileCases[] = {
    {"Unreadable",
     Unreadable(),
     {"status:Opening file gone.s19", "log:status : Opening file gone.s19",
      "status:Unable to open gone.s19", "log:status : Unable to open gone.s19",
      "log:status : No such file or directory", "browse:on"}},
    {"FailsTheCheck",
     File(BadSRecords, "bad.s19"),
     {"status:Opening file bad.s19", "log:status : Opening file bad.s19",
      "status:File check failed: line 2: checksum mismatch (the record says 0xEF, its bytes "
      "give 0xEE)",
      "log:status : File check failed: line 2: checksum mismatch (the record says 0xEF, its "
      "bytes give 0xEE)",
      "browse:on"}},
};

class RefusedFile : public EngineTest, public ::testing::WithParamInterface<RefusedFileCase>
{
};

TEST_P(RefusedFile, NothingIsSentAndAnotherFileMayBeChosen)
{
    Greet();
    engine.Transfer(GetParam().file);
    EXPECT_EQ(Take(), GetParam().calls);
    EXPECT_EQ(host.sent, "");
    EXPECT_FALSE(engine.Transferring());
    EXPECT_EQ(engine.DialogueState(), upload::Connected);
}

INSTANTIATE_TEST_SUITE_P(Files, RefusedFile, ::testing::ValuesIn(RefusedFileCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace engine_test
