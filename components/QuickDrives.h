// A non-visual component that answers questions about one disk drive, chosen by its number
// (1 for A to 26 for Z): root path, presence, type, space, label, file system and serial
// number. Every answer is asked of the system at the moment it is read; nothing is kept.
// On Linux the letters stand for mounted file systems (see platform/DriveInfo.h).
#pragma once

#include "platform/Component.h"
#include "platform/Exception.h"

#include <cstdint>

class TQuickDrives : public TComponent
{
public:
    explicit TQuickDrives(QObject* Owner = nullptr);
    ~TQuickDrives() override;

    // The drive letter followed by ":\", "C:\" for drive 3.
    AnsiString Root() const;
    // Free bytes and whole capacity (not capacity minus free space), from the space query's
    // cluster counts. Byte counts beyond the range of the 32-bit result read as 2147483647:
    // a value that does not fit is reported as the largest one that does, never wrapped
    // into a small or negative figure. 0 when the drive cannot be asked.
    std::int32_t FreeSpace() const;
    std::int32_t UsedSpace() const;
    // The drive number, always 1..26; 3 (C) for a new component.
    int Drive() const { return FDrive; }
    // Whether the drive letter is present.
    bool Exists() const;
    // Volume label, file system name (at most 11 characters each) and serial number; the
    // empty string, the empty string and 0 when the volume cannot be asked or its label is
    // longer than 11 characters.
    AnsiString Label() const;
    AnsiString FileSystem() const;
    std::int32_t Serial() const;
    // One of "UNKNOWN", "NOTINSTALLED", "REMOVABLE", "FIXED", "REMOTE", "CDROM", "RAMDISK"
    // and "NEWTYPE".
    AnsiString Type() const;

    // Stores the number clamped to 1..26.
    void setDrive(int value);
    // The writers of the read-only properties: they ignore what they are given.
    void dumbLong(std::int32_t) {}
    void dumbString(AnsiString) {}
    void dumbBool(bool) {}

private:
    int FDrive;
};

// The word for a drive-type code of the platform's type query (0 to 6); "NEWTYPE" for any code
// beyond those.
AnsiString DriveTypeWord(unsigned code);
