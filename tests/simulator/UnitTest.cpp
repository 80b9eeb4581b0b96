// Whole upload cycles over a real pseudo-terminal: a unit on its own thread and a small client
// that plays the uploader on the other side.
#include "SimHarness.h"
#include "sim/FirmwareMaker.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string Firmware(std::size_t size, FirmwareRecipe::Format format = FirmwareRecipe::Format::Srec)
{
    FirmwareRecipe recipe;
    recipe.size = size;
    recipe.format = format;
    return MakeFirmwareText(recipe);
}

// The bytes the uploader puts on the line for a file: CRs dropped, LF after every line and
// one more for the empty read at the end.
std::size_t SentBytes(const std::string& text)
{
    return text.size() - static_cast<std::size_t>(std::count(text.begin(), text.end(), '\r')) + 1;
}

class SimUnit : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    SimOptions options = TestUnitOptions(dir);
};

TEST_F(SimUnit, WholeCycleUnderXonXoffEndsWithCrcOk)
{
    RunningUnit unit(options); // 115200 bit/s, 4000 bytes/s into the flash
    TestClient client(options.link, /*ixon=*/true);
    ASSERT_TRUE(client.Connect());
    const std::string file = Firmware(8192);
    ASSERT_TRUE(client.SendFile(file));
    ASSERT_TRUE(client.ReadUntil("CRC is OK\r\n", 30s)) << client.Received();

    // The messages come in order, each with CR LF, after the progress marks.
    const std::string& text = client.Received();
    std::size_t at = text.find("Please start up\r\n");
    for (const char* message :
         {"#", "Erasing...\r\n", "Programming...\r\n", "programming complete\r\n",
          "Checking CRC...\r\n", "CRC is OK\r\n"}) {
        const std::size_t next = text.find(message, at);
        ASSERT_NE(next, std::string::npos) << message << " in " << text;
        at = next;
    }
    ASSERT_TRUE(unit.WaitForCycles(1, 5s));
    const CycleReport r = unit.unit().Cycles().at(0);
    EXPECT_EQ(r.result, "crc-ok");
    EXPECT_EQ(r.bytes, SentBytes(file));
    EXPECT_EQ(r.records, 8196u / 32 + 1 + 3); // data, S0, S5, S9
    EXPECT_GT(r.xoffSent, 0u);
    EXPECT_EQ(r.overrunBytes, 0u);
    EXPECT_LE(r.maxFill, options.buffer);
    EXPECT_FALSE(r.bytesAfterXoff.has_value()); // a paced line cannot judge the sender
}

struct Outcome
{
    const char* name;
    std::function<void(SimOptions&, FirmwareRecipe&)> setup;
    const char* lastMessage;
    const char* result;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const Outcome& outcome, std::ostream* os)
{
    *os << outcome.name;
}

class SimUnitOutcome : public ::testing::TestWithParam<Outcome>
{
};

TEST_P(SimUnitOutcome, ReportsWhatTheFileAndFaultsCallFor)
{
    QTemporaryDir dir;
    SimOptions options = TestUnitOptions(dir);
    options.baud = 0;
    options.programRate = 1e6;
    FirmwareRecipe recipe;
    recipe.size = 1024;
    GetParam().setup(options, recipe);
    RunningUnit unit(options);
    TestClient client(options.link, true);
    ASSERT_TRUE(client.Connect());
    ASSERT_TRUE(client.SendFile(MakeFirmwareText(recipe)));
    ASSERT_TRUE(client.ReadUntil(std::string(GetParam().lastMessage) + "\r\n", 20s))
        << client.Received();
    ASSERT_TRUE(unit.WaitForCycles(1, 5s));
    EXPECT_EQ(unit.unit().Cycles().at(0).result, GetParam().result);
    EXPECT_EQ(unit.unit().CompletedCycles(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimUnitOutcome,
    ::testing::Values(
        Outcome{"GoodFile", [](SimOptions&, FirmwareRecipe&) {}, "CRC is OK", "crc-ok"},
        Outcome{"IntelHex",
                [](SimOptions&, FirmwareRecipe& f) { f.format = FirmwareRecipe::Format::IntelHex; },
                "CRC is OK", "crc-ok"},
        Outcome{"FileWithBadCrc", [](SimOptions&, FirmwareRecipe& f) { f.badCrc = true; },
                "CRC is BAD", "crc-bad"},
        Outcome{"BadCrcFault", [](SimOptions& o, FirmwareRecipe&) { o.badCrc = true; },
                "CRC is BAD", "crc-bad"},
        Outcome{"DottedResults", [](SimOptions& o, FirmwareRecipe&) { o.dottedResults = true; },
                "CRC is O.K", "crc-ok"},
        Outcome{"ProgramFailFault", [](SimOptions& o, FirmwareRecipe&) { o.programFail = true; },
                "programming failed", "programming-failed"},
        Outcome{"AddressOutsideFlash", [](SimOptions& o, FirmwareRecipe&) { o.flashSize = 512; },
                "programming failed", "programming-failed"},
        Outcome{"BadRecordChecksum",
                [](SimOptions&, FirmwareRecipe& f) { f.badRecordChecksum = true; },
                "Download failed", "download-failed"},
        Outcome{"Noise", [](SimOptions& o, FirmwareRecipe&) { o.noise = true; }, "CRC is OK",
                "crc-ok"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimUnit, GreetingFaultsAndTheNextUnitsOwnGreeting)
{
    options.baud = 0;
    options.programRate = 1e6;
    options.lowercaseGreeting = true;
    options.splitGreeting = true;
    options.greetAfterS = 0.3;
    RunningUnit unit(options);
    TestClient client(options.link, true);
    ASSERT_TRUE(client.Send("\r"));
    ASSERT_TRUE(client.ReadUntil("please st", 5s));
    const auto firstHalf = Clock::now();
    ASSERT_TRUE(client.ReadUntil("please start up\r\n", 5s));
    // The pause splits the greeting across the uploader's packets (far above its 2 ms).
    EXPECT_GE(Clock::now() - firstHalf, 50ms);
    ASSERT_TRUE(client.SendFile(Firmware(256)));
    ASSERT_TRUE(client.ReadUntil("CRC is OK\r\n", 20s));
    // No CR: the next unit greets on its own.
    const std::size_t before = client.Received().size();
    ASSERT_TRUE(client.ReadUntil("CRC is OK\r\nplease start up\r\n", 5s)) << client.Received();
    EXPECT_GT(client.Received().size(), before);
}

TEST_F(SimUnit, SilenceDuringADownloadFailsIt)
{
    options.baud = 0;
    options.lineTimeoutS = 0.5;
    RunningUnit unit(options);
    TestClient client(options.link, true);
    ASSERT_TRUE(client.Connect());
    const std::string file = Firmware(256);
    ASSERT_TRUE(client.Send(file.substr(0, file.find('\r')) + "\n")); // starts the download
    ASSERT_TRUE(client.ReadUntil("Download failed\r\n", 10s)) << client.Received();
    ASSERT_TRUE(unit.WaitForCycles(1, 5s));
    EXPECT_EQ(unit.unit().Cycles().at(0).result, "download-failed");
    EXPECT_NE(unit.unit().Cycles().at(0).reason.find("no line"), std::string::npos);
}

// An uploader that stopped sending the file in the middle goes back to its wake-up CRs, one a
// second; they are not download bytes, so the download still times out and the unit reports.
TEST_F(SimUnit, WakeUpCrsDoNotKeepADownloadAlive)
{
    options.baud = 0;
    options.lineTimeoutS = 0.5;
    RunningUnit unit(options);
    TestClient client(options.link, true);
    ASSERT_TRUE(client.Connect());
    const std::string file = Firmware(256);
    ASSERT_TRUE(client.Send(file.substr(0, file.find('\r')) + "\n")); // starts the download
    // A CR more often than the unit's line timeout and its quiet wait after a failure.
    const auto deadline = Clock::now() + 10s;
    bool reported = false;
    while (!reported && Clock::now() < deadline) {
        ASSERT_TRUE(client.Send("\r"));
        reported = client.ReadUntil("Download failed\r\n", 200ms);
    }
    ASSERT_TRUE(reported) << client.Received();
    ASSERT_TRUE(unit.WaitForCycles(1, 5s));
    EXPECT_EQ(unit.unit().Cycles().at(0).result, "download-failed");
    EXPECT_NE(unit.unit().Cycles().at(0).reason.find("no line"), std::string::npos);
}

TEST_F(SimUnit, PulledLineHangsUpTheClientAndComesBackUnderTheSameLink)
{
    options.baud = 0;
    options.unplugAfter = 300;
    RunningUnit unit(options);
    {
        TestClient client(options.link, true);
        ASSERT_TRUE(client.Connect());
        client.SendFile(Firmware(2048)); // may fail part-way: the line goes
        char buf[256];
        std::size_t n = 0;
        LineDevice::ReadStatus status;
        do
            status = client.line().Read(buf, sizeof buf, &n, Clock::now() + 5s);
        while (status == LineDevice::ReadStatus::Data);
        EXPECT_EQ(status, LineDevice::ReadStatus::Dropped);
    }
    ASSERT_TRUE(unit.WaitForCycles(1, 5s));
    EXPECT_EQ(unit.unit().Cycles().at(0).result, "aborted");
    // A fresh line under the same link: the port can be opened again and the unit answers.
    ASSERT_TRUE(WaitForLink(options.link, 10s));
    TestClient again(options.link, true);
    ASSERT_TRUE(again.Connect());
    ASSERT_TRUE(again.SendFile(Firmware(512)));
    ASSERT_TRUE(again.ReadUntil("CRC is OK\r\n", 20s)) << again.Received();
}

// A whole line's worth of data at 115200 bit/s from a client that only writes: the unit takes
// the bytes no faster than the line would carry them.
TEST_F(SimUnit, PacedLineTakesAtLeastTheLineTime)
{
    options.programRate = 1e6;
    RunningUnit unit(options);
    TestClient client(options.link, false);
    ASSERT_TRUE(client.Connect());
    const std::string file = Firmware(28 * 1024); // a file of about 64 KiB
    const std::size_t bytes = SentBytes(file);
    ASSERT_GE(bytes, 64u * 1024);
    const auto start = Clock::now();
    ASSERT_TRUE(client.SendFile(file));
    ASSERT_TRUE(client.ReadUntil("CRC is OK\r\n", 60s)) << client.Received();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    ASSERT_TRUE(unit.WaitForCycles(1, 5s));
    const CycleReport r = unit.unit().Cycles().at(0);
    const double lineTime = static_cast<double>(bytes) * 10 / 115200;
    std::printf("%zu bytes: line time %.3f s, download %.3f s, client saw the result after "
                "%.3f s\n",
                bytes, lineTime, r.downloadS, elapsed);
    EXPECT_EQ(r.result, "crc-ok");
    EXPECT_EQ(r.bytes, bytes);
    EXPECT_GE(elapsed, lineTime);
    // The unit's own clock starts at the first byte and it may take its 16-byte FIFO at once
    // after a pause, so its download time may fall a few character times short of the line
    // time; it must never be noticeably faster than the line.
    EXPECT_GE(r.downloadS, 0.99 * lineTime);
    EXPECT_EQ(r.xoffSent, 0u);
}

TEST_F(SimUnit, UnpacedLineClearsAClientWithKernelIxon)
{
    options.baud = 0;
    options.programRate = 20000;
    RunningUnit unit(options);
    TestClient client(options.link, /*ixon=*/true);
    ASSERT_TRUE(client.Connect());
    // Far more than the pty and the reaction window could take: only the hold lets it pass.
    ASSERT_TRUE(client.SendFile(Firmware(32 * 1024)));
    ASSERT_TRUE(client.ReadUntil("CRC is OK\r\n", 30s)) << client.Received();
    ASSERT_TRUE(unit.WaitForCycles(1, 5s));
    const CycleReport r = unit.unit().Cycles().at(0);
    EXPECT_EQ(r.result, "crc-ok");
    EXPECT_GT(r.xoffSent, 0u);
    ASSERT_TRUE(r.bytesAfterXoff.has_value());
    EXPECT_EQ(*r.bytesAfterXoff, 0u);
    EXPECT_EQ(r.overrunBytes, 0u);
}

TEST_F(SimUnit, UnpacedLineCatchesAClientThatIgnoresXoff)
{
    options.baud = 0;
    options.programRate = 20000;
    RunningUnit unit(options);
    TestClient client(options.link, /*ixon=*/false);
    ASSERT_TRUE(client.Connect());
    // Writes on regardless, a line every millisecond, far longer than the reaction time.
    const std::string file = Firmware(16 * 1024);
    std::size_t from = 0;
    while (from < file.size()) {
        const std::size_t end = file.find('\n', from);
        std::string line = file.substr(from, end - from);
        std::erase(line, '\r');
        ASSERT_TRUE(client.Send(line + "\n"));
        std::this_thread::sleep_for(1ms);
        from = end + 1;
    }
    ASSERT_TRUE(unit.WaitForCycles(1, 20s));
    const CycleReport r = unit.unit().Cycles().at(0);
    EXPECT_GT(r.xoffSent, 0u);
    ASSERT_TRUE(r.bytesAfterXoff.has_value());
    EXPECT_GT(*r.bytesAfterXoff, 0u);
    std::printf("bytes after XOFF: %llu, overrun: %llu, result %s\n",
                static_cast<unsigned long long>(*r.bytesAfterXoff),
                static_cast<unsigned long long>(r.overrunBytes), r.result.c_str());
}

} // namespace

namespace {

TEST_F(SimUnit, NeverXonHoldsTheSenderUntilTheDownloadTimesOut)
{
    options.baud = 0;
    options.neverXon = true;
    options.programRate = 1e6;
    options.lineTimeoutS = 0.5;
    RunningUnit unit(options);
    TestClient client(options.link, /*ixon=*/true);
    ASSERT_TRUE(client.Connect());
    const std::string file = Firmware(64 * 1024); // far more than the pty can hold
    // The kernel holds the client's output for good after the one XOFF.
    EXPECT_FALSE(client.Send(file, std::chrono::seconds(2)));
    ASSERT_TRUE(client.ReadUntil("Download failed\r\n", std::chrono::seconds(10)))
        << client.Received();
    ASSERT_TRUE(unit.WaitForCycles(1, std::chrono::seconds(5)));
    const CycleReport r = unit.unit().Cycles().at(0);
    EXPECT_EQ(r.result, "download-failed");
    EXPECT_EQ(r.xoffSent, 1u);
    EXPECT_LT(r.bytes, file.size());
}

} // namespace
