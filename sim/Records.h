// Parsing of single firmware file records: Motorola S-records (S0 to S9) and Intel HEX
// (data, end of file, extended segment and linear address, start address), with their syntax
// and checksum verified, as the unit checks each line it receives.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class RecordKind
{
    Header,       // S0: free text, not loaded
    Data,         // S1/S2/S3, Intel HEX 00
    Count,        // S5/S6: number of data records so far, in `value`
    End,          // S7/S8/S9 (start address in `value`), Intel HEX 01
    SegmentBase,  // Intel HEX 02: `value` = segment * 16, added to later data offsets
    LinearBase,   // Intel HEX 04: `value` = upper 16 bits << 16
    StartAddress, // Intel HEX 03 and 05: start address, not loaded
};

struct Record
{
    RecordKind kind = RecordKind::Data;
    bool intelHex = false;
    // Load address of a data record (for Intel HEX the 16-bit offset), or the value of the
    // other kinds as described above.
    std::uint32_t value = 0;
    std::vector<std::uint8_t> data;
};

// True when the line could be meant as a record: it begins with 'S' and a digit, or ':'.
bool LooksLikeRecord(std::string_view line);

// Parses one line (without its line end; trailing spaces, tabs and CRs are ignored). On
// failure returns false and sets `error` to a short English reason.
bool ParseRecord(std::string_view line, Record& record, std::string& error);
