// How mounted file systems become drive letters, and the platform's drive queries on the
// running system.
#include "platform/DriveInfo.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// A system as a desktop and a container show it: pseudo file systems, run-time RAM disks,
// block devices, a network share, a RAM disk of the user's, a file bound into place and a
// mount point mounted over.
const char* const kMountinfo =
    "21 26 0:20 / /proc rw,relatime shared:12 - proc proc rw\n"
    "22 26 0:21 / /sys rw,relatime shared:2 - sysfs sysfs rw\n"
    "23 26 0:6 / /dev rw,relatime shared:3 - devtmpfs udev rw,size=8000k\n"
    "24 23 0:22 / /dev/shm rw,relatime - tmpfs tmpfs rw\n"
    "25 23 0:23 / /dev/pts rw,relatime - devpts devpts rw,mode=600\n"
    "26 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
    "27 26 0:24 / /run rw,nosuid shared:5 - tmpfs tmpfs rw,mode=755\n"
    "28 22 0:27 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n"
    "29 26 8:3 / /home rw,relatime shared:30 - ext4 /dev/sda3 rw\n"
    "30 27 8:17 / /run/media/ann/STICK rw shared:40 - vfat /dev/sdb1 rw\n"
    "31 26 0:40 / /mnt/nas rw shared:41 - nfs4 nas:/export rw\n"
    "32 26 0:41 / /mnt/scratch rw shared:42 - tmpfs tmpfs rw,size=1048576k\n"
    "33 26 11:0 / /mnt/my\\040disc ro shared:43 - iso9660 /dev/sr0 ro\n"
    "34 26 0:50 / /var/lib/docker/overlay2/x/merged rw - overlay overlay rw\n"
    "35 26 8:2 /etc/hosts /etc/hosts rw - ext4 /dev/sda2 rw\n"
    "36 26 0:51 / /home rw shared:50 - cifs //server/home rw\n"
    "garbage line\n";

bool NotTheHostsFile(const std::string& path)
{
    return path != "/etc/hosts";
}

TEST(DriveMapTest, RootIsCThenUserFileSystemsInMountOrder)
{
    const std::vector<MappedDrive> drives = MapDrives(kMountinfo, NotTheHostsFile);
    const struct
    {
        char letter;
        const char* mountPoint;
        const char* type;
        const char* source;
    } expected[] = {
        {'C', "/", "ext4", "/dev/sda2"},
        // Mounted over: in the place of the first mount, with the file system on top.
        {'D', "/home", "cifs", "//server/home"},
        {'E', "/run/media/ann/STICK", "vfat", "/dev/sdb1"},
        {'F', "/mnt/nas", "nfs4", "nas:/export"},
        {'G', "/mnt/scratch", "tmpfs", "tmpfs"},
        {'H', "/mnt/my disc", "iso9660", "/dev/sr0"},
    };
    ASSERT_EQ(drives.size(), std::size(expected));
    for (std::size_t i = 0; i < drives.size(); ++i) {
        SCOPED_TRACE(expected[i].letter);
        EXPECT_EQ(drives[i].Letter, expected[i].letter);
        EXPECT_EQ(drives[i].MountPoint, expected[i].mountPoint);
        EXPECT_EQ(drives[i].FsType, expected[i].type);
        EXPECT_EQ(drives[i].Source, expected[i].source);
    }
    EXPECT_EQ(drives[2].Major, 8u);
    EXPECT_EQ(drives[2].Minor, 17u);
}

TEST(DriveMapTest, LettersEndAtZAndNothingWithoutARoot)
{
    std::string text = "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n";
    for (int i = 0; i < 30; ++i)
        text += std::to_string(100 + i) + " 1 8:" + std::to_string(16 + i) + " / /mnt/d" +
                std::to_string(i) + " rw - ext4 /dev/sdx" + std::to_string(i) + " rw\n";
    const std::vector<MappedDrive> drives = MapDrives(text, nullptr);
    ASSERT_EQ(drives.size(), 24u); // C to Z
    EXPECT_EQ(drives.back().Letter, 'Z');
    EXPECT_EQ(drives.back().MountPoint, "/mnt/d22");

    EXPECT_TRUE(MapDrives("1 0 8:1 / /mnt rw - ext4 /dev/sda1 rw\n", nullptr).empty());
    EXPECT_TRUE(MapDrives("", nullptr).empty());
}

TEST(DriveMapTest, RunningSystemHasItsRootAsCAndNeverAOrB)
{
    const auto letters = [] {
        std::uint32_t mask = 0;
        for (const MappedDrive& d : ReadDriveMap())
            mask |= 1u << (d.Letter - 'A');
        return mask;
    };
    const std::vector<MappedDrive> drives = ReadDriveMap();
    ASSERT_FALSE(drives.empty());
    EXPECT_EQ(drives[0].Letter, 'C');
    EXPECT_EQ(drives[0].MountPoint, "/");

    // Other tests may mount and unmount meanwhile: compare while the map holds still.
    for (int attempt = 0; attempt < 10; ++attempt) {
        const std::uint32_t before = letters();
        const std::uint32_t mask = GetLogicalDrives();
        if (letters() != before)
            continue;
        EXPECT_EQ(mask & 0b111u, 0b100u); // C, never A or B
        EXPECT_EQ(mask, before);
        return;
    }
    FAIL() << "the mounts kept changing";
}

TEST(DriveMapTest, RootPathsAreALetterAndAColonWithOrWithoutBackslash)
{
    const struct
    {
        const char* root;
        bool found;
    } cases[] = {
        {"C:\\", true}, {"c:\\", true},   {"C:", true},    {"C:/", false},  {"C", false},
        {"", false},    {"CC:\\", false}, {"1:\\", false}, {"A:\\", false}, {"C:\\x", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.root);
        EXPECT_EQ(GetDriveType(c.root) != DRIVE_NO_ROOT_DIR, c.found);
        EXPECT_EQ(GetDiskFreeSpace(c.root).has_value(), c.found);
        EXPECT_EQ(GetVolumeInformation(c.root, 256, 256).has_value(), c.found);
    }
}

} // namespace
