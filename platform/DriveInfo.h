// Drive letters over Linux: the four drive queries the drive information component asks
// (free space, present letters, volume information, drive type), answered from the mounted
// file systems, which have no letters of their own.
//
// The letter map, read fresh from /proc/self/mountinfo at every query:
//   A, B  never present.
//   C     the root file system (the mount whose mount point is "/").
//   D..Z  the other mounted file systems that a user would see as drives, in mount order:
//         - file systems on a block device (the mount's source is a path under /dev/),
//         - network file systems (nfs, nfs4, cifs, smb3, smbfs, sshfs, fuse.sshfs),
//         - RAM disks (tmpfs, ramfs), except those under /dev, /proc, /run and /sys, which
//           hold the system's own run-time state (shared memory, sockets, cgroups),
//         whose mount point is a directory (container runtimes bind single files such as
//         /etc/hosts). Pseudo file systems (proc, sysfs, cgroup, devpts, devtmpfs, mqueue,
//         overlay below the root, ...) get no letter. A mount point mounted over again counts
//         once, in the place of its first mount, showing the file system on top. File
//         systems beyond Z get no letter.
//
// The queries take a root path "X:\" (the letter in either case; "X:" alone is accepted):
//   GetDiskFreeSpace     statvfs of the mount point: 512-byte sectors, a cluster being the
//                        file system's fragment size; free clusters are those available to
//                        unprivileged users (what df shows); counts above 32 bits are capped.
//   GetLogicalDrives     bit n set for every letter ('A' + n) of the map.
//   GetVolumeInformation label from /dev/disk/by-label (the link that names the mount's
//                        device; empty where there is none), serial number the low 32 bits
//                        of the file system id (statvfs f_fsid, or the device number where
//                        that is 0), file system name the mount's type in upper case cut to
//                        the buffer. Fails like the original when the label does not fit.
//   GetDriveType         RAMDISK for tmpfs/ramfs, REMOTE for the network types, CDROM for
//                        iso9660/udf, REMOVABLE when the block device's
//                        /sys/dev/block/<major>:<minor>/removable (or its disk's) is 1,
//                        FIXED for other block devices and for the root file system,
//                        UNKNOWN otherwise, NO_ROOT_DIR for a letter not in the map.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One file system that carries a drive letter.
struct MappedDrive
{
    char Letter = 0;        // 'C' to 'Z'
    std::string MountPoint; // decoded path
    std::string FsType;     // as the kernel names it: "ext4", "tmpfs", "fuse.sshfs"
    std::string Source;     // the mount's source: "/dev/sda1", "server:/export", "tmpfs"
    unsigned Major = 0;     // device number of the mounted file system
    unsigned Minor = 0;
};

// Maps the text of a mountinfo file to letters by the rules above. `isDirectory` tells
// whether a mount point is a directory; when empty, every mount point counts as one.
using DirectoryProbe = bool (*)(const std::string& path);
std::vector<MappedDrive> MapDrives(std::string_view mountinfo, DirectoryProbe isDirectory);

// The letter map of the running system, read now.
std::vector<MappedDrive> ReadDriveMap();

// The drive-type codes GetDriveType returns.
enum : unsigned
{
    DRIVE_UNKNOWN = 0,
    DRIVE_NO_ROOT_DIR = 1,
    DRIVE_REMOVABLE = 2,
    DRIVE_FIXED = 3,
    DRIVE_REMOTE = 4,
    DRIVE_CDROM = 5,
    DRIVE_RAMDISK = 6,
};

struct DiskFreeSpace
{
    std::uint32_t SectorsPerCluster = 0;
    std::uint32_t BytesPerSector = 0;
    std::uint32_t NumberOfFreeClusters = 0;
    std::uint32_t TotalNumberOfClusters = 0;
};
// Space of the drive at rootPath; nothing when the letter is not mapped or statvfs fails.
std::optional<DiskFreeSpace> GetDiskFreeSpace(const std::string& rootPath);

// Bit mask of the present drive letters, bit 0 for A.
std::uint32_t GetLogicalDrives();

struct VolumeInformation
{
    std::string VolumeName;
    std::uint32_t VolumeSerialNumber = 0;
    std::uint32_t MaximumComponentLength = 0;
    std::string FileSystemName;
};
// Volume information of the drive at rootPath. The buffer sizes count the terminating zero
// as the original's buffers do, so a name fits when it is shorter than its buffer. Nothing
// when the letter is not mapped, the file system cannot be asked or the label does not fit.
std::optional<VolumeInformation> GetVolumeInformation(const std::string& rootPath,
                                                      std::size_t volumeNameSize,
                                                      std::size_t fileSystemNameSize);

// The drive-type code of the drive at rootPath (DRIVE_NO_ROOT_DIR for an unmapped letter or a
// malformed path).
unsigned GetDriveType(const std::string& rootPath);

// For tests and tools: mounts a fresh RAM disk (tmpfs) of the given size on the directory,
// and takes it away again. Need the right to mount (root); false with errorText set when
// refused.
bool MountRamDisk(const std::string& directory, std::uint64_t bytes, std::string* errorText);
bool UnmountRamDisk(const std::string& directory, std::string* errorText);
