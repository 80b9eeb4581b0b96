// The check of a firmware file before any of it goes to the unit: a file that is empty or not
// text is refused, and an S-record or Intel HEX file must be whole and sound (every record's
// syntax, length and checksum, an end record last, no overlapping addresses, the S5/S6 count,
// nothing hidden behind a 0x1A). Pure functions over the file's bytes, split into its lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace upload {

enum class FirmwareFormat
{
    Other,    // any other text: sent unchecked, and the operator told so
    SRecord,  // most non-blank lines are S-records: every line is checked as one
    IntelHex, // most non-blank lines are Intel HEX records: every line is checked as one
};

// What a record file holds; all zero for other formats.
struct FirmwareFacts
{
    FirmwareFormat format = FirmwareFormat::Other;
    std::uint64_t records = 0;
    std::uint64_t imageBytes = 0; // data bytes of all data records
    std::uint64_t lowest = 0;     // lowest and highest address of a data byte, when imageBytes > 0
    std::uint64_t highest = 0;
};

struct FirmwareCheckResult
{
    bool ok = true;
    // 1-based number of the line the failure was found at; 0 when it is the whole file's.
    std::uint64_t line = 0;
    std::string reason;
    FirmwareFacts facts;

    // "line 17: checksum mismatch ..." or "the file is empty"; empty when ok.
    std::string FailureText() const;
    // "File not checked: not S-record or Intel HEX" for a text file of another format, which
    // is sent as it is; empty for a checked or refused file.
    std::string UncheckedText() const;
};

// Checks a whole file given as its bytes. Lines end at LF; CR bytes are dropped as the
// transfer drops them, and trailing blanks are ignored as the unit ignores them.
FirmwareCheckResult CheckFirmware(std::string_view bytes);

// The figures of a checked record file for the log, with the file's SHA-256 in hex:
// "S-record file, 36 records, addresses 0x00000000-0x00000403, 1028 image bytes, SHA-256 ...".
std::string FirmwareFactsText(const FirmwareFacts& facts, std::string_view sha256Hex);

// The lines after which a file without any line end is no text file.
constexpr std::size_t TextProbeBytes = 64 * 1024;

} // namespace upload
