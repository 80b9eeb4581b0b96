// What the log says about a port that does not open: the reason from what the system reports
// and the usual fix, from real devices (pseudo-terminals), files and processes.
#include "platform/PortAdvice.h"

#include "platform/PortNames.h"
#include "platform/PseudoTerminal.h"
#include "platform/SerialDevices.h"

#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t end = text.find('\n', from);
        lines.push_back(text.substr(from, end - from));
        from = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

// Runs a shell command and returns what it printed.
std::string RunCommand(const std::string& command)
{
    std::string output;
    if (std::FILE* p = ::popen((command + " 2>&1").c_str(), "r")) {
        char buf[512];
        while (std::fgets(buf, sizeof buf, p))
            output += buf;
        EXPECT_EQ(::pclose(p), 0) << output;
    }
    return output;
}

// A process that holds `device` open and locked, under the command name `name`: the probe,
// started through a link of that name. Ends when the object goes.
class Holder
{
public:
    Holder(const fs::path& dir, const std::string& name, const std::string& device)
    {
        const fs::path link = dir / name;
        fs::create_symlink(PORT_ADVICE_PROBE, link);
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], STDIN_FILENO);
            ::dup2(out[1], STDOUT_FILENO);
            ::close(in[1]);
            ::close(out[0]);
            ::execl(link.c_str(), link.c_str(), "--hold", device.c_str(), nullptr);
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        input_ = in[1];
        char said[16] = {};
        const ssize_t n = ::read(out[0], said, sizeof said - 1);
        held_ = n > 0 && std::string(said, std::size_t(n)) == "held\n";
        ::close(out[0]);
    }
    ~Holder()
    {
        if (input_ >= 0)
            ::close(input_);
        if (pid_ > 0)
            ::waitpid(pid_, nullptr, 0);
    }
    bool Held() const { return held_; }
    pid_t Pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int input_ = -1;
    bool held_ = false;
};

class PortAdvice : public testing::Test
{
protected:
    void SetUp() override
    {
        root = fs::path(dir.path().toStdString());
        fs::create_directories(root / "dev");
        fs::create_directories(root / "serial" / "by-id");
        fs::create_directories(root / "serial" / "by-path");
        SetSerialDeviceRoots(
            {(root / "dev").string(), (root / "serial").string(), (root / "sys").string()});
    }
    void TearDown() override
    {
        SetSerialDeviceRoots({});
        SetPortMap({});
    }

    QTemporaryDir dir;
    fs::path root;
};

TEST_F(PortAdvice, AMissingDeviceListsThePresentOnesByTheirStableNames)
{
    PseudoTerminal adapter;
    PseudoTerminal other;
    const fs::path byId = root / "serial/by-id/usb-Tallowmere_Orvix_Cable_A1B2-if00-port0";
    const fs::path byPath = root / "serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0";
    const fs::path otherId = root / "serial/by-id/usb-FTDI_FT232R_USB_UART_X9-if00-port0";
    fs::create_symlink(adapter.SlavePath(), byId);
    fs::create_symlink(adapter.SlavePath(), byPath);
    fs::create_symlink(other.SlavePath(), otherId);
    const std::string missing = (root / "dev/ttyUSB9").string();
    SetPortMap({{3, missing}});

    SerialResult result = SerialResult::Ok;
    EXPECT_FALSE(SerialPort::Open("COM3", &result, nullptr));
    ASSERT_EQ(result, SerialResult::NotFound);

    // Ordered by the devices' paths.
    const bool adapterFirst = adapter.SlavePath() < other.SlavePath();
    const std::string adapterText =
        adapter.SlavePath() + " (" + byId.string() + ", " + byPath.string() + ")";
    const std::string otherText = other.SlavePath() + " (" + otherId.string() + ")";
    const std::string present =
        adapterFirst ? adapterText + "; " + otherText : otherText + "; " + adapterText;
    EXPECT_EQ(PortOpenAdvice("COM3", result),
              (std::vector<std::string>{
                  missing + " does not exist", "serial devices present: " + present,
                  "fix: name one of them for a port in the [Ports] section of Uploader.ini, for "
                  "example COM2=" +
                      (adapterFirst ? byId : otherId).string() + ", then restart the uploader"}));

    // Without any device the operator is told to plug one in.
    fs::remove(byId);
    fs::remove(byPath);
    fs::remove(otherId);
    EXPECT_EQ(PortOpenAdvice("COM3", result),
              (std::vector<std::string>{missing + " does not exist",
                                        "no serial device is present: plug the adapter in, then "
                                        "choose the port again"}));
    EXPECT_EQ(PortOpenAdvice("COM0", SerialResult::NotFound).front(), "COM0 names no device");
}

TEST_F(PortAdvice, ADeviceHeldByAnotherProgramNamesItAndTheFix)
{
    const struct
    {
        const char* name;
        std::string fix;
    } cases[] = {
        {"ModemManager",
         "fix: ModemManager probes serial adapters for modems; stop it (sudo systemctl stop "
         "ModemManager) or have it leave this adapter alone with a udev rule setting "
         "ENV{ID_MM_DEVICE_IGNORE}=\"1\""},
        {"brltty", "fix: brltty takes USB serial adapters for braille displays; remove it (sudo "
                   "apt remove brltty) unless a braille display is used"},
        {"minicom", "fix: close minicom (or end it: kill PID), then choose the port again"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PseudoTerminal pty;
        const Holder holder(root, c.name, pty.SlavePath());
        ASSERT_TRUE(holder.Held());
        SerialResult result = SerialResult::Ok;
        EXPECT_FALSE(SerialPort::Open(pty.SlavePath(), &result, nullptr));
        ASSERT_EQ(result, SerialResult::Busy);
        std::string fix = c.fix;
        if (const auto at = fix.find("PID"); at != std::string::npos)
            fix.replace(at, 3, std::to_string(holder.Pid()));
        EXPECT_EQ(PortOpenAdvice(pty.SlavePath(), result),
                  (std::vector<std::string>{pty.SlavePath() + " is held by " + c.name + " (pid " +
                                                std::to_string(holder.Pid()) + ")",
                                            fix}));
    }
}

// The probe runs as "nobody" without supplementary groups, as an operator outside the
// device's group.
TEST_F(PortAdvice, ADeviceTheUserMayNotOpenNamesItsGroupAndTheCommand)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving the device a group takes root";
    const group* dialout = ::getgrnam("dialout");
    ASSERT_NE(dialout, nullptr);
    const struct
    {
        mode_t mode;
        std::vector<std::string> advice;
    } cases[] = {
        {0660,
         {"PATH belongs to group dialout (crw-rw----), and user nobody is not in it",
          "fix: sudo usermod -aG dialout nobody, then log out and in again"}},
        {0600,
         {"PATH (crw-------, owner 0, group dialout) lets no group read and write it",
          "ask the administrator for a udev rule that gives it a group such as dialout with "
          "read and write access"}},
    };
    for (const auto& c : cases) {
        PseudoTerminal pty;
        const std::string path = pty.SlavePath();
        ASSERT_EQ(::chown(path.c_str(), 0, dialout->gr_gid), 0);
        ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
        std::vector<std::string> expected = c.advice;
        expected[0].replace(0, 4, path);
        EXPECT_EQ(
            Lines(RunCommand("timeout 20 setpriv --reuid=65534 --regid=65534 --clear-groups " +
                             std::string(PORT_ADVICE_PROBE) + " " + path)),
            expected);
    }
}

// Another user's program holds the device: the operator cannot see which, and is told how to
// find out.
TEST_F(PortAdvice, ADeviceHeldOutOfTheUsersSightSaysHowToFindTheHolder)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "holding a device as another user takes root";
    PseudoTerminal pty;
    const std::string path = pty.SlavePath();
    ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    const Holder holder(root, "minicom", path);
    ASSERT_TRUE(holder.Held());
    EXPECT_EQ(
        Lines(RunCommand("timeout 20 setpriv --reuid=65534 --regid=65534 --clear-groups " +
                         std::string(PORT_ADVICE_PROBE) + " " + path)),
        (std::vector<std::string>{
            path + " is held by a program that user nobody may not see (another user's)",
            "fix: sudo fuser -v " + path + " names it; close it, then choose the port again"}));
}

TEST(SerialErrorAdvice, GivesTheSystemsWordsAndWhatToDo)
{
    EXPECT_EQ(SerialErrorAdvice("Read Error: 5"), "Input/output error: the adapter was unplugged "
                                                  "or failed; plug it in and choose the port "
                                                  "again");
    EXPECT_EQ(SerialErrorAdvice("Send Error: 19"),
              "No such device: the device is gone (the adapter was unplugged); plug it in and "
              "choose the port again");
    EXPECT_EQ(SerialErrorAdvice("Send Error: 22"),
              "Invalid argument: check the cable and the adapter, then choose the port again");
    for (const char* other : {"Comport Unavailable.", "Read Error: ", "Read Error: 5x", ""})
        EXPECT_EQ(SerialErrorAdvice(other), "") << other;
}

} // namespace
