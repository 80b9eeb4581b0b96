#include "platform/PortAdvice.h"

#include "platform/PortNames.h"
#include "platform/SerialDevice.h"
#include "platform/SerialDevices.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string UserName()
{
    const uid_t uid = ::geteuid();
    if (const passwd* pw = ::getpwuid(uid))
        return pw->pw_name;
    return std::to_string(uid);
}

std::string GroupName(gid_t gid)
{
    if (const group* gr = ::getgrgid(gid))
        return gr->gr_name;
    return std::to_string(gid);
}

// The permission bits as ls shows them: "crw-rw----".
std::string ModeText(mode_t mode)
{
    std::string text = S_ISCHR(mode) ? "c" : S_ISDIR(mode) ? "d" : "-";
    const char* letters = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i)
        text += (mode & (0400 >> i)) ? letters[i] : '-';
    return text;
}

bool ProcessHasGroup(gid_t gid)
{
    if (::getegid() == gid)
        return true;
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
    const int n = ::getgroups(int(groups.size()), groups.data());
    return std::find(groups.begin(), groups.begin() + std::max(n, 0), gid) !=
           groups.begin() + std::max(n, 0);
}

// The user's groups as the group database lists them now (a login takes them at its start).
bool UserListedInGroup(const std::string& user, gid_t gid)
{
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const passwd* pw = ::getpwnam(user.c_str());
    if (!pw)
        return false;
    if (::getgrouplist(user.c_str(), pw->pw_gid, groups.data(), &count) < 0) {
        groups.resize(std::size_t(count));
        if (::getgrouplist(user.c_str(), pw->pw_gid, groups.data(), &count) < 0)
            return false;
    }
    groups.resize(std::size_t(count));
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

std::vector<std::string> AccessAdvice(const std::string& path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return {};
    const std::string user = UserName();
    const std::string group = GroupName(st.st_gid);
    const std::string mode = ModeText(st.st_mode);
    if ((st.st_mode & 060) != 060)
        return {path + " (" + mode + ", owner " + std::to_string(st.st_uid) + ", group " + group +
                    ") lets no group read and write it",
                "ask the administrator for a udev rule that gives it a group such as dialout "
                "with read and write access"};
    if (ProcessHasGroup(st.st_gid))
        return {path + " belongs to group " + group + " (" + mode +
                "), which this program has: "
                "the system still refuses it (an access control list or a security "
                "module); ask the administrator"};
    if (UserListedInGroup(user, st.st_gid))
        return {path + " belongs to group " + group + " (" + mode + "); user " + user +
                    " was added to it after logging in",
                "fix: log out and in again (or restart the computer), then start the uploader"};
    return {path + " belongs to group " + group + " (" + mode + "), and user " + user +
                " is not in it",
            "fix: sudo usermod -aG " + group + " " + user + ", then log out and in again"};
}

std::vector<std::string> BusyAdvice(const std::string& path)
{
    // This program's own descriptors are not the other program the operator must close.
    std::vector<DeviceHolder> holders = ProgramsHolding(path);
    std::erase_if(holders, [](const DeviceHolder& h) { return h.pid == ::getpid(); });
    if (holders.empty())
        return {path + " is held by a program that user " + UserName() +
                    " may not see (another user's)",
                "fix: sudo fuser -v " + path + " names it; close it, then choose the port again"};
    std::string list;
    for (const DeviceHolder& h : holders)
        list += (list.empty() ? "" : ", ") + h.name + " (pid " + std::to_string(h.pid) + ")";
    std::vector<std::string> lines = {path + " is held by " + list};
    for (const DeviceHolder& h : holders) {
        if (h.name == "ModemManager")
            lines.push_back("fix: ModemManager probes serial adapters for modems; stop it "
                            "(sudo systemctl stop ModemManager) or have it leave this adapter "
                            "alone with a udev rule setting ENV{ID_MM_DEVICE_IGNORE}=\"1\"");
        else if (h.name == "brltty")
            lines.push_back("fix: brltty takes USB serial adapters for braille displays; remove "
                            "it (sudo apt remove brltty) unless a braille display is used");
        else
            lines.push_back("fix: close " + h.name + " (or end it: kill " + std::to_string(h.pid) +
                            "), then choose the port again");
    }
    return lines;
}

std::vector<std::string> MissingAdvice(const std::string& portName, const std::string& path)
{
    std::vector<std::string> lines;
    struct stat st;
    if (path.empty())
        lines.push_back(portName + " names no device");
    else if (::stat(path.c_str(), &st) != 0)
        lines.push_back(path + " does not exist");
    else
        lines.push_back(path + " is not a serial device");
    const std::vector<FoundSerialDevice> devices = ListSerialDevices();
    if (devices.empty()) {
        lines.push_back("no serial device is present: plug the adapter in, then choose the port "
                        "again");
        return lines;
    }
    lines.push_back("serial devices present: " + SerialDevicesText(devices));
    const FoundSerialDevice& first = devices.front();
    const std::string example = first.stableNames.empty() ? first.path : first.stableNames.front();
    lines.push_back("fix: name one of them for a port in the [Ports] section of Uploader.ini, "
                    "for example COM2=" +
                    example + ", then restart the uploader");
    return lines;
}

} // namespace

std::vector<DeviceHolder> ProgramsHolding(const std::string& device)
{
    struct stat target;
    if (::stat(device.c_str(), &target) != 0)
        return {};
    std::vector<DeviceHolder> holders;
    std::error_code ec;
    for (fs::directory_iterator proc("/proc", ec), end; !ec && proc != end; proc.increment(ec)) {
        const std::string pidText = proc->path().filename().string();
        pid_t pid = 0;
        const auto [rest, error] =
            std::from_chars(pidText.data(), pidText.data() + pidText.size(), pid);
        if (error != std::errc() || rest != pidText.data() + pidText.size())
            continue;
        std::error_code denied; // another user's process: its descriptors are not ours to see
        for (fs::directory_iterator fd(proc->path() / "fd", denied), fdEnd; !denied && fd != fdEnd;
             fd.increment(denied)) {
            struct stat st;
            if (::stat(fd->path().c_str(), &st) == 0 && S_ISCHR(st.st_mode) &&
                S_ISCHR(target.st_mode) && st.st_rdev == target.st_rdev) {
                std::string name;
                std::getline(std::ifstream(proc->path() / "comm"), name);
                holders.push_back({pid, name});
                break;
            }
        }
    }
    std::sort(holders.begin(), holders.end(),
              [](const DeviceHolder& a, const DeviceHolder& b) { return a.pid < b.pid; });
    return holders;
}

std::vector<std::string> PortOpenAdvice(const std::string& portName, SerialResult result)
{
    const std::string path = ResolvePortName(portName);
    switch (result) {
    case SerialResult::NotFound:
        return MissingAdvice(portName, path);
    case SerialResult::AccessDenied:
        return AccessAdvice(path);
    case SerialResult::Busy:
        return BusyAdvice(path);
    default:
        return {};
    }
}

std::string SerialErrorAdvice(const std::string& errorText)
{
    int code = 0;
    bool matched = false;
    for (const char* prefix : {"Read Error: ", "Send Error: "}) {
        const std::size_t n = std::strlen(prefix);
        if (errorText.compare(0, n, prefix) != 0)
            continue;
        const char* first = errorText.data() + n;
        const char* last = errorText.data() + errorText.size();
        const auto [rest, error] = std::from_chars(first, last, code);
        matched = error == std::errc() && rest == last && first != last;
    }
    if (!matched)
        return {};
    std::string todo;
    switch (code) {
    case EIO:
        todo = "the adapter was unplugged or failed; plug it in and choose the port again";
        break;
    case ENODEV:
    case ENXIO:
        todo = "the device is gone (the adapter was unplugged); plug it in and choose the port "
               "again";
        break;
    case EBADF:
        todo = "the port was closed meanwhile; choose the port again";
        break;
    case EAGAIN:
    case ETIMEDOUT:
        todo = "the line did not take the data in time; check the cable and the unit, then try "
               "again";
        break;
    case EACCES:
    case EPERM:
        todo = "the system withdrew the access to the port; choose the port again";
        break;
    default:
        todo = "check the cable and the adapter, then choose the port again";
        break;
    }
    return ErrnoText(code) + ": " + todo;
}
