#include "components/QuickDrives.h"

#include "platform/DriveInfo.h"

#include <algorithm>
#include <limits>

namespace {

// The size of the label and file system name buffers of the volume query: 11 characters and
// the terminating zero.
constexpr std::size_t kNameBufferSize = 12;

// sectors per cluster x bytes per sector x clusters, as a signed 32-bit byte count that
// stops at its largest value instead of wrapping.
std::int32_t Bytes(std::uint32_t sectorsPerCluster, std::uint32_t bytesPerSector,
                   std::uint32_t clusters)
{
    constexpr std::uint64_t kMax = std::numeric_limits<std::int32_t>::max();
    const std::uint64_t clusterBytes = std::uint64_t{sectorsPerCluster} * bytesPerSector;
    if (clusterBytes == 0 || clusters == 0)
        return 0;
    if (clusterBytes > kMax / clusters)
        return static_cast<std::int32_t>(kMax);
    return static_cast<std::int32_t>(clusterBytes * clusters);
}

} // namespace

TQuickDrives::TQuickDrives(QObject* Owner) : TComponent(Owner), FDrive(3) {}

TQuickDrives::~TQuickDrives() = default;

void TQuickDrives::setDrive(int value)
{
    FDrive = std::clamp(value, 1, 26);
}

AnsiString TQuickDrives::Root() const
{
    return AnsiString(1, static_cast<char>(64 + FDrive)) + ":\\";
}

std::int32_t TQuickDrives::FreeSpace() const
{
    const auto space = GetDiskFreeSpace(Root());
    if (!space)
        return 0;
    return Bytes(space->SectorsPerCluster, space->BytesPerSector, space->NumberOfFreeClusters);
}

std::int32_t TQuickDrives::UsedSpace() const
{
    const auto space = GetDiskFreeSpace(Root());
    if (!space)
        return 0;
    return Bytes(space->SectorsPerCluster, space->BytesPerSector, space->TotalNumberOfClusters);
}

bool TQuickDrives::Exists() const
{
    return (GetLogicalDrives() >> (FDrive - 1)) & 1u;
}

AnsiString TQuickDrives::Label() const
{
    const auto info = GetVolumeInformation(Root(), kNameBufferSize, kNameBufferSize);
    return info ? info->VolumeName : AnsiString();
}

AnsiString TQuickDrives::FileSystem() const
{
    const auto info = GetVolumeInformation(Root(), kNameBufferSize, kNameBufferSize);
    return info ? info->FileSystemName : AnsiString();
}

std::int32_t TQuickDrives::Serial() const
{
    const auto info = GetVolumeInformation(Root(), kNameBufferSize, kNameBufferSize);
    // The serial is an identifier: its 32 bits are kept as they are, so it may read negative.
    return info ? static_cast<std::int32_t>(info->VolumeSerialNumber) : 0;
}

AnsiString TQuickDrives::Type() const
{
    return DriveTypeWord(GetDriveType(Root()));
}

AnsiString DriveTypeWord(unsigned code)
{
    switch (code) {
    case DRIVE_UNKNOWN:
        return "UNKNOWN";
    case DRIVE_NO_ROOT_DIR:
        return "NOTINSTALLED";
    case DRIVE_REMOVABLE:
        return "REMOVABLE";
    case DRIVE_FIXED:
        return "FIXED";
    case DRIVE_REMOTE:
        return "REMOTE";
    case DRIVE_CDROM:
        return "CDROM";
    case DRIVE_RAMDISK:
        return "RAMDISK";
    default:
        return "NEWTYPE";
    }
}
