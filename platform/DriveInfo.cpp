#include "platform/DriveInfo.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

namespace {

constexpr std::array kNetworkTypes{"nfs", "nfs4", "cifs", "smb3", "smbfs", "sshfs", "fuse.sshfs"};
constexpr std::array kRamTypes{"tmpfs", "ramfs"};
constexpr std::array kOpticalTypes{"iso9660", "udf"};
// RAM disks below these hold the system's run-time state, not the user's files.
constexpr std::array kSystemDirectories{"/dev", "/proc", "/run", "/sys"};

template <std::size_t N>
bool OneOf(const std::string& value, const std::array<const char*, N>& names)
{
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return value == n; });
}

bool IsBelow(const std::string& path, const std::string& directory)
{
    return path == directory ||
           (path.size() > directory.size() && path.compare(0, directory.size(), directory) == 0 &&
            path[directory.size()] == '/');
}

// mountinfo writes space, tab, newline and backslash in paths as three octal digits.
std::string DecodeOctalEscapes(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() &&
            std::all_of(text.begin() + i + 1, text.begin() + i + 4,
                        [](char c) { return c >= '0' && c <= '7'; })) {
            out += static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 +
                                     (text[i + 3] - '0'));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

// udev writes unsafe characters of labels in link names as \xHH.
std::string DecodeHexEscapes(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 3]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

struct Mount
{
    MappedDrive drive;
    bool hidden = false;
};

std::optional<MappedDrive> ParseLine(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    while (pos < line.size()) {
        const std::size_t end = std::min(line.find(' ', pos), line.size());
        if (end > pos)
            fields.push_back(line.substr(pos, end - pos));
        pos = end + 1;
    }
    const auto separator = std::find(fields.begin(), fields.end(), "-");
    if (fields.size() < 6 || separator == fields.end() || fields.end() - separator < 3)
        return std::nullopt;
    MappedDrive d;
    unsigned major = 0, minor = 0;
    char colon = 0;
    std::istringstream numbers{std::string(fields[2])};
    if (!(numbers >> major >> colon >> minor) || colon != ':')
        return std::nullopt;
    d.Major = major;
    d.Minor = minor;
    d.MountPoint = DecodeOctalEscapes(fields[4]);
    d.FsType = std::string(separator[1]);
    d.Source = DecodeOctalEscapes(separator[2]);
    return d;
}

bool CarriesLetter(const MappedDrive& d)
{
    if (OneOf(d.FsType, kNetworkTypes))
        return true;
    if (OneOf(d.FsType, kRamTypes))
        return std::none_of(kSystemDirectories.begin(), kSystemDirectories.end(),
                            [&](const char* dir) { return IsBelow(d.MountPoint, dir); });
    return d.Source.rfind("/dev/", 0) == 0;
}

bool RealIsDirectory(const std::string& path)
{
    struct stat st
    {
    };
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<MappedDrive> FindDrive(const std::string& rootPath)
{
    const bool wellFormed =
        (rootPath.size() == 2 || (rootPath.size() == 3 && rootPath[2] == '\\')) &&
        rootPath[1] == ':' && std::isalpha(static_cast<unsigned char>(rootPath[0]));
    if (!wellFormed)
        return std::nullopt;
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(rootPath[0])));
    for (const MappedDrive& d : ReadDriveMap())
        if (d.Letter == letter)
            return d;
    return std::nullopt;
}

// The device number of the mounted file system as its block device has it: the source's
// when that is a block device (btrfs reports an anonymous number in mountinfo), else the one
// mountinfo names.
dev_t DeviceOf(const MappedDrive& d)
{
    struct stat st
    {
    };
    if (d.Source.rfind("/dev/", 0) == 0 && ::stat(d.Source.c_str(), &st) == 0 &&
        S_ISBLK(st.st_mode))
        return st.st_rdev;
    return makedev(d.Major, d.Minor);
}

std::string LabelOf(const MappedDrive& d)
{
    if (d.Source.rfind("/dev/", 0) != 0)
        return {};
    const dev_t device = DeviceOf(d);
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/disk/by-label", ec)) {
        struct stat st
        {
        };
        if (::stat(entry.path().c_str(), &st) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == device)
            return DecodeHexEscapes(entry.path().filename().string());
    }
    return {};
}

bool IsRemovable(const MappedDrive& d)
{
    const dev_t device = DeviceOf(d);
    const std::string base =
        "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
    // A partition has no flag of its own; its disk, the parent directory in sysfs, has.
    for (const std::string& path : {base + "/removable", base + "/../removable"}) {
        std::ifstream in(path);
        int flag = 0;
        if (in >> flag)
            return flag == 1;
    }
    return false;
}

std::uint32_t Cap32(std::uint64_t count)
{
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(count, std::numeric_limits<std::uint32_t>::max()));
}

} // namespace

std::vector<MappedDrive> MapDrives(std::string_view mountinfo, DirectoryProbe isDirectory)
{
    // Every mount point once, in the place of its first mount, with the file system on top.
    std::vector<MappedDrive> mounts;
    std::size_t pos = 0;
    while (pos < mountinfo.size()) {
        const std::size_t end = std::min(mountinfo.find('\n', pos), mountinfo.size());
        if (auto d = ParseLine(mountinfo.substr(pos, end - pos))) {
            auto same = std::find_if(mounts.begin(), mounts.end(), [&](const MappedDrive& m) {
                return m.MountPoint == d->MountPoint;
            });
            if (same != mounts.end())
                *same = std::move(*d);
            else
                mounts.push_back(std::move(*d));
        }
        pos = end + 1;
    }

    std::vector<MappedDrive> drives;
    auto root = std::find_if(mounts.begin(), mounts.end(),
                             [](const MappedDrive& m) { return m.MountPoint == "/"; });
    if (root == mounts.end())
        return drives;
    root->Letter = 'C';
    drives.push_back(*root);
    char next = 'D';
    for (const MappedDrive& m : mounts) {
        if (next > 'Z')
            break;
        if (m.MountPoint == "/" || !CarriesLetter(m))
            continue;
        if (isDirectory && !isDirectory(m.MountPoint))
            continue;
        drives.push_back(m);
        drives.back().Letter = next++;
    }
    return drives;
}

std::vector<MappedDrive> ReadDriveMap()
{
    std::ifstream in("/proc/self/mountinfo");
    std::stringstream text;
    text << in.rdbuf();
    return MapDrives(text.str(), RealIsDirectory);
}

std::optional<DiskFreeSpace> GetDiskFreeSpace(const std::string& rootPath)
{
    const auto drive = FindDrive(rootPath);
    struct statvfs vfs
    {
    };
    if (!drive || ::statvfs(drive->MountPoint.c_str(), &vfs) != 0)
        return std::nullopt;
    const std::uint64_t cluster = vfs.f_frsize != 0 ? vfs.f_frsize : vfs.f_bsize;
    DiskFreeSpace space;
    if (cluster % 512 == 0) {
        space.BytesPerSector = 512;
        space.SectorsPerCluster = Cap32(cluster / 512);
    } else {
        space.BytesPerSector = Cap32(cluster);
        space.SectorsPerCluster = 1;
    }
    space.NumberOfFreeClusters = Cap32(vfs.f_bavail);
    space.TotalNumberOfClusters = Cap32(vfs.f_blocks);
    return space;
}

std::uint32_t GetLogicalDrives()
{
    std::uint32_t mask = 0;
    for (const MappedDrive& d : ReadDriveMap())
        mask |= std::uint32_t{1} << (d.Letter - 'A');
    return mask;
}

std::optional<VolumeInformation> GetVolumeInformation(const std::string& rootPath,
                                                      std::size_t volumeNameSize,
                                                      std::size_t fileSystemNameSize)
{
    const auto drive = FindDrive(rootPath);
    struct statvfs vfs
    {
    };
    if (!drive || ::statvfs(drive->MountPoint.c_str(), &vfs) != 0)
        return std::nullopt;
    VolumeInformation info;
    if (volumeNameSize > 0) {
        info.VolumeName = LabelOf(*drive);
        if (info.VolumeName.size() >= volumeNameSize)
            return std::nullopt;
    }
    std::uint64_t id = vfs.f_fsid;
    if (id == 0)
        id = DeviceOf(*drive);
    info.VolumeSerialNumber = static_cast<std::uint32_t>(id);
    info.MaximumComponentLength = Cap32(vfs.f_namemax);
    if (fileSystemNameSize > 0) {
        info.FileSystemName = drive->FsType.substr(0, fileSystemNameSize - 1);
        for (char& c : info.FileSystemName)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return info;
}

unsigned GetDriveType(const std::string& rootPath)
{
    const auto drive = FindDrive(rootPath);
    if (!drive)
        return DRIVE_NO_ROOT_DIR;
    if (OneOf(drive->FsType, kRamTypes))
        return DRIVE_RAMDISK;
    if (OneOf(drive->FsType, kNetworkTypes))
        return DRIVE_REMOTE;
    if (OneOf(drive->FsType, kOpticalTypes))
        return DRIVE_CDROM;
    if (drive->Source.rfind("/dev/", 0) == 0)
        return IsRemovable(*drive) ? DRIVE_REMOVABLE : DRIVE_FIXED;
    if (drive->Letter == 'C')
        return DRIVE_FIXED;
    return DRIVE_UNKNOWN;
}

bool MountRamDisk(const std::string& directory, std::uint64_t bytes, std::string* errorText)
{
    const std::string options = "size=" + std::to_string(bytes);
    if (::mount("tmpfs", directory.c_str(), "tmpfs", 0, options.c_str()) == 0)
        return true;
    if (errorText)
        *errorText = "mount " + directory + ": " + std::strerror(errno);
    return false;
}

bool UnmountRamDisk(const std::string& directory, std::string* errorText)
{
    // A lazy detach still takes the mount out of the map when a file is held open.
    if (::umount2(directory.c_str(), 0) == 0 || ::umount2(directory.c_str(), MNT_DETACH) == 0)
        return true;
    if (errorText)
        *errorText = "umount " + directory + ": " + std::strerror(errno);
    return false;
}
