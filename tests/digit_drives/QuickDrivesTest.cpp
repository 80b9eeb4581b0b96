#include "components/QuickDrives.h"

#include "platform/DriveInfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cctype>
#include <climits>
#include <gtest/gtest.h>
#include <string>
#include <tuple>

namespace {

constexpr std::int32_t kLongMax = 2147483647;

TEST(QuickDrivesTest, NewComponentReportsOnDriveC)
{
    QObject owner;
    auto* drives = new TQuickDrives(&owner);
    EXPECT_EQ(drives->Owner(), &owner);
    EXPECT_EQ(drives->Drive(), 3);
    EXPECT_EQ(drives->Root(), "C:\\");
}

TEST(QuickDrivesTest, DriveNumberIsClampedToAToZ)
{
    const struct
    {
        int requested, drive;
        const char* root;
    } cases[] = {
        {INT_MIN, 1, "A:\\"}, {-5, 1, "A:\\"},       {0, 1, "A:\\"},   {1, 1, "A:\\"},
        {2, 2, "B:\\"},       {4, 4, "D:\\"},        {26, 26, "Z:\\"}, {27, 26, "Z:\\"},
        {1000, 26, "Z:\\"},   {INT_MAX, 26, "Z:\\"},
    };
    TQuickDrives drives;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.requested);
        drives.setDrive(c.requested);
        EXPECT_EQ(drives.Drive(), c.drive);
        EXPECT_EQ(drives.Root(), c.root);
    }
}

TEST(QuickDrivesTest, TypeWordsByCode)
{
    const char* const words[] = {"UNKNOWN", "NOTINSTALLED", "REMOVABLE", "FIXED",
                                 "REMOTE",  "CDROM",        "RAMDISK",   "NEWTYPE"};
    for (unsigned code = 0; code < 8; ++code)
        EXPECT_EQ(DriveTypeWord(code), words[code]) << code;
    EXPECT_EQ(DriveTypeWord(1000), "NEWTYPE");
}

TEST(QuickDrivesTest, DriveCIsTheRootFileSystem)
{
    TQuickDrives drives;
    EXPECT_TRUE(drives.Exists());
    EXPECT_EQ(drives.Type(), "FIXED");
    EXPECT_GT(drives.UsedSpace(), 0);
    EXPECT_GE(drives.FreeSpace(), 0);
    EXPECT_LE(drives.FreeSpace(), drives.UsedSpace());

    // The file system name is the mount's type in capitals, at most 11 characters; a label
    // too long for its 11 characters makes the whole volume query fail.
    const std::vector<MappedDrive> map = ReadDriveMap();
    ASSERT_FALSE(map.empty());
    std::string type = map[0].FsType.substr(0, 11);
    std::transform(type.begin(), type.end(), type.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    const auto whole = GetVolumeInformation("C:\\", 256, 256);
    ASSERT_TRUE(whole.has_value());
    if (whole->VolumeName.size() <= 11) {
        EXPECT_EQ(drives.FileSystem(), type);
        EXPECT_EQ(drives.Label(), whole->VolumeName);
        EXPECT_EQ(drives.Serial(), static_cast<std::int32_t>(whole->VolumeSerialNumber));
    } else {
        EXPECT_EQ(drives.FileSystem(), "");
        EXPECT_EQ(drives.Label(), "");
        EXPECT_EQ(drives.Serial(), 0);
    }
}

void ExpectAbsent(const TQuickDrives& drives)
{
    EXPECT_FALSE(drives.Exists());
    EXPECT_EQ(drives.Type(), "NOTINSTALLED");
    EXPECT_EQ(drives.FreeSpace(), 0);
    EXPECT_EQ(drives.UsedSpace(), 0);
    EXPECT_EQ(drives.Serial(), 0);
    EXPECT_EQ(drives.Label(), "");
    EXPECT_EQ(drives.FileSystem(), "");
}

TEST(QuickDrivesTest, LetterWithNothingMountedGivesNeutralAnswers)
{
    std::vector<int> absent{1, 2}; // A and B are never present
    const std::uint32_t present = GetLogicalDrives();
    for (int drive = 26; drive > 3; --drive)
        if (!((present >> (drive - 1)) & 1u)) {
            absent.push_back(drive);
            break;
        }
    ASSERT_EQ(absent.size(), 3u) << "every letter is in use";
    TQuickDrives drives;
    for (int drive : absent) {
        SCOPED_TRACE(drive);
        drives.setDrive(drive);
        ExpectAbsent(drives);
    }
}

// A RAM disk mounted in a temporary directory for the test; the test is skipped where
// mounting is not permitted.
class RamDiskTest : public testing::Test
{
protected:
    void Mount(std::uint64_t bytes)
    {
        ASSERT_TRUE(dir.isValid());
        mountPoint = QFileInfo(dir.path()).canonicalFilePath().toStdString();
        std::string error;
        if (!MountRamDisk(mountPoint, bytes, &error))
            GTEST_SKIP() << "cannot mount a RAM disk here: " << error;
        mounted = true;
        for (const MappedDrive& d : ReadDriveMap())
            if (d.MountPoint == mountPoint)
                drive = d.Letter - 'A' + 1;
        ASSERT_NE(drive, 0) << "the RAM disk got no letter";
        drives.setDrive(drive);
    }

    void Unmount()
    {
        if (!mounted)
            return;
        std::string error;
        EXPECT_TRUE(UnmountRamDisk(mountPoint, &error)) << error;
        mounted = false;
    }

    void TearDown() override { Unmount(); }

    QTemporaryDir dir;
    std::string mountPoint;
    bool mounted = false;
    int drive = 0;
    TQuickDrives drives;
};

TEST_F(RamDiskTest, RamDiskIsReportedAndEveryAnswerIsFresh)
{
    Mount(1024 * 1024);
    if (IsSkipped() || HasFatalFailure())
        return;
    EXPECT_TRUE(drives.Exists());
    EXPECT_EQ(drives.Type(), "RAMDISK");
    EXPECT_EQ(drives.FileSystem(), "TMPFS");
    EXPECT_EQ(drives.Label(), "");
    EXPECT_NE(drives.Serial(), 0);
    EXPECT_EQ(drives.UsedSpace(), 1048576);
    EXPECT_EQ(drives.FreeSpace(), 1048576);

    // Free space is read again at every question.
    QFile file(QString::fromStdString(mountPoint + "/quarter"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(QByteArray(256 * 1024, 'x')), 256 * 1024);
    file.close();
    EXPECT_EQ(drives.FreeSpace(), 786432);
    EXPECT_EQ(drives.UsedSpace(), 1048576);
    ASSERT_TRUE(file.remove());
    EXPECT_EQ(drives.FreeSpace(), 1048576);

    // Gone as soon as it is unmounted.
    const int letter = drive;
    Unmount();
    bool reused = false;
    for (const MappedDrive& d : ReadDriveMap())
        reused = reused || d.Letter - 'A' + 1 == letter;
    if (!reused)
        ExpectAbsent(drives);
    else
        EXPECT_NE(drives.Type(), "RAMDISK");
}

TEST_F(RamDiskTest, WritesToTheReadOnlyPropertiesChangeNothing)
{
    Mount(512 * 1024);
    if (IsSkipped() || HasFatalFailure())
        return;
    const auto snapshot = [&] {
        return std::make_tuple(drives.Root(), drives.FreeSpace(), drives.UsedSpace(),
                               drives.Drive(), drives.Exists(), drives.Label(), drives.FileSystem(),
                               drives.Serial(), drives.Type());
    };
    const auto before = snapshot();
    drives.dumbString("Q:\\");
    drives.dumbString("");
    drives.dumbLong(-1);
    drives.dumbLong(123456);
    drives.dumbBool(false);
    drives.dumbBool(true);
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(std::get<8>(before), "RAMDISK");
    EXPECT_EQ(std::get<2>(before), 524288);
}

// Byte counts are 32-bit signed: a size beyond 2147483647 reads as 2147483647 rather than
// as the wrapped remainder (which for 5 GiB would be a plausible-looking 1 GiB).
TEST_F(RamDiskTest, SpaceBeyondThirtyTwoBitsReadsAsTheLargestValue)
{
    const struct
    {
        std::uint64_t bytes;
        std::int32_t reported;
    } cases[] = {
        {2047ull << 20, 2146435072},
        {2ull << 30, kLongMax},
        {4ull << 30, kLongMax},
        {5ull << 30, kLongMax},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        Mount(c.bytes);
        if (IsSkipped() || HasFatalFailure())
            return;
        EXPECT_EQ(drives.UsedSpace(), c.reported);
        EXPECT_EQ(drives.FreeSpace(), c.reported);
        Unmount();
    }
}

} // namespace
