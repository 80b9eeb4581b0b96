// The settings file on disk as an operator meets it: files the user may not write, files of
// another user, and writers killed in mid-write. A separate writer process
// (profile_write_probe) runs as the unprivileged user "nobody" when the tests run as root.
#include "platform/ProfileFile.h"

#include <QProcess>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;

std::string Contents(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct stat Stat(const fs::path& path)
{
    struct stat st
    {
    };
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st;
}

// Runs the probe (as "nobody" when the test runs as root) and returns what it printed.
std::string WriteAs(bool unprivileged, const fs::path& path, const std::string& value)
{
    QStringList args;
    QString program = PROFILE_WRITE_PROBE;
    if (unprivileged) {
        args = {"--reuid=65534", "--regid=65534", "--clear-groups", program};
        program = "setpriv";
    }
    args << QString::fromStdString(path.string()) << "SystemSection"
         << "Port" << QString::fromStdString(value);
    QProcess probe;
    probe.setProcessChannelMode(QProcess::MergedChannels);
    probe.start(program, args);
    if (!probe.waitForFinished(30000))
        return "probe did not finish";
    return probe.readAll().toStdString();
}

class IniFileAccess : public testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/orvix-ini-access-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
        path = dir / "Uploader.ini";
    }
    void TearDown() override { fs::remove_all(dir); }

    std::vector<std::string> OtherFiles() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.path() != path)
                names.push_back(entry.path().filename().string());
        return names;
    }

    fs::path dir;
    fs::path path;
};

// The writer is "nobody"; each case sets up the folder and the file, and the write either
// fails and leaves the file exactly as it was, or succeeds and keeps its owner and mode.
TEST_F(IniFileAccess, UnprivilegedWriterKeepsOwnerAndModeOrFailsLeavingTheFile)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give files to another user";
    struct Case
    {
        const char* name;
        mode_t dirMode;
        uid_t owner;
        gid_t group;
        mode_t mode;
        bool writable;
    };
    const Case cases[] = {
        {"the user's own read-only file", 0777, kNobody, kNogroup, 0444, false},
        {"another user's file the user may only read", 0777, 0, 0, 0644, false},
        {"another user's file the user may write", 0777, 0, 0, 0666, true},
        {"the user's own file, group-readable", 0777, kNobody, kNogroup, 0640, true},
        {"a writable file in a folder the user may not write", 0755, 0, 0, 0666, true},
    };
    const std::string before = "; operator's notes\n[SystemSection]\nPort=COM1\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(::chmod(dir.c_str(), c.dirMode), 0);
        std::ofstream(path, std::ios::binary) << before;
        ASSERT_EQ(::chown(path.c_str(), c.owner, c.group), 0);
        ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);

        const std::string printed = WriteAs(true, path, "COM3");

        const struct stat after = Stat(path);
        EXPECT_EQ(after.st_uid, c.owner);
        EXPECT_EQ(after.st_gid, c.group);
        EXPECT_EQ(after.st_mode & 07777, c.mode);
        if (c.writable) {
            EXPECT_EQ(printed, "ok\n");
            EXPECT_EQ(Contents(path), "; operator's notes\n[SystemSection]\nPort=COM3\n");
        } else {
            EXPECT_EQ(printed, "Unable to write to " + path.string() + "\n");
            EXPECT_EQ(Contents(path), before);
        }
        EXPECT_EQ(OtherFiles(), std::vector<std::string>{});
        fs::remove(path);
    }
}

// A file without any write permission is read-only for every writer, root included, as
// the read-only attribute is.
TEST_F(IniFileAccess, ReadOnlyFileStopsEveryWriter)
{
    const std::string before = "[SystemSection]\nPort=COM1\n";
    std::ofstream(path, std::ios::binary) << before;
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    TIniFile ini(path.string());
    try {
        ini.WriteString("SystemSection", "Port", "COM4");
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message, "Unable to write to " + path.string());
    }
    EXPECT_EQ(Contents(path), before);
    EXPECT_EQ(Stat(path).st_mode & 07777, 0444u);
    EXPECT_EQ(OtherFiles(), std::vector<std::string>{});
}

// Writers killed (SIGKILL) at random moments while they rewrite the file: the file is whole
// after every kill, and once the program has started and written again no temporary file
// of it is left in the folder.
TEST_F(IniFileAccess, KilledWritersLeaveTheFileWholeAndNoTemporaryFiles)
{
    std::ofstream(path, std::ios::binary) << "[SystemSection]\nPort=COM1\n";
    std::mt19937 random(11);
    std::uniform_int_distribution<int> delayUs(0, 5000);
    constexpr int kKills = 200;
    int killedWhileWriting = 0;
    for (int i = 0; i < kKills; ++i) {
        QProcess writer;
        writer.start(PROFILE_WRITE_PROBE, {QString::fromStdString(path.string()), "SystemSection",
                                           "Port", "COM", "--loop"});
        ASSERT_TRUE(writer.waitForReadyRead(10000)) << "the writer did not start writing";
        std::this_thread::sleep_for(std::chrono::microseconds(delayUs(random)));
        writer.kill();
        ASSERT_TRUE(writer.waitForFinished(10000));
        if (writer.exitStatus() == QProcess::CrashExit)
            ++killedWhileWriting;
        const std::string text = Contents(path);
        ASSERT_EQ(text.rfind("[SystemSection]\nPort=COM", 0), 0u) << text;
        ASSERT_EQ(text.back(), '\n') << text;
    }
    EXPECT_EQ(killedWhileWriting, kKills);
    const std::size_t leftBehind = OtherFiles().size();
    std::cout << leftBehind << " temporary files after " << kKills << " kills\n";

    EXPECT_EQ(WriteAs(false, path, "COM2"), "ok\n");
    EXPECT_EQ(Contents(path), "[SystemSection]\nPort=COM2\n");
    EXPECT_EQ(OtherFiles(), std::vector<std::string>{});
}

// A temporary file of a writer that has ended is removed by the next start; those of
// writers that may still be at work, and files that merely look alike, are left alone.
TEST_F(IniFileAccess, CleanUpRemovesOnlyTemporariesOfEndedWriters)
{
    std::ofstream(path, std::ios::binary) << "[SystemSection]\nPort=COM1\n";
    QProcess ended;
    ended.start("true");
    ASSERT_TRUE(ended.waitForStarted(10000));
    const qint64 endedPid = ended.processId();
    ASSERT_TRUE(ended.waitForFinished(10000));
    std::ofstream(dir / ("Uploader.ini." + std::to_string(endedPid) + ".tmp")) << "stale";
    const std::string live = "Uploader.ini." + std::to_string(::getpid()) + ".tmp";
    const std::vector<std::string> kept = {live, "Uploader.ini.bak", "Uploader.ini.backup",
                                           "Uploader.ini.12x.tmp", "Other.ini.1.tmp"};
    for (const std::string& name : kept)
        std::ofstream(dir / name) << "x";
    EXPECT_EQ(WriteAs(false, path, "COM2"), "ok\n");
    std::vector<std::string> left = OtherFiles();
    std::sort(left.begin(), left.end());
    std::vector<std::string> expected = kept;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(left, expected);
}

} // namespace
