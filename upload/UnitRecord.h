// One line of the unit record Orvix500Units.csv: the fields of one cycle that began with a
// transfer, and their RFC 4180 form.
#pragma once

#include "platform/LocalClock.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace upload {

// How a cycle ended, as the record names it.
enum class UnitOutcome
{
    CrcOk,
    CrcBad,
    ProgrammingFailed,
    DownloadFailed,
    Cancelled,
    SendError,
    NoResult, // the unit said nothing within the bound after the transfer, or greeted first
};

// "crc-ok", "crc-bad", "programming-failed", "download-failed", "cancelled", "send-error",
// "no-result".
std::string_view OutcomeName(UnitOutcome outcome);

// The status text of a cycle that ended without the unit's verdict.
constexpr std::string_view NoResultStatus = "No Result!!!  Waiting for Connection...";

// The outcome a final status text of the dialogue stands for ("CRC OK!!!  Waiting for
// Connection..." gives CrcOk); none for any other text, "Programming Complete." included.
std::optional<UnitOutcome> OutcomeOfStatus(std::string_view statusText);

struct UnitRecord
{
    LocalTime start;
    LocalTime end;
    std::string port;   // "COM2"
    std::string device; // the device path the port maps to
    std::uint32_t baud = 0;
    std::string file; // the firmware file's full path
    std::uint64_t fileSize = 0;
    std::string sha256; // lower-case hex
    std::uint64_t bytesSent = 0;
    std::uint64_t linesSent = 0;
    std::uint64_t xoffHolds = 0;
    std::int64_t longestHoldMs = 0;
    std::int64_t transferMs = 0;
    // Overrun, framing, parity and break conditions the port reported during the transfer.
    std::uint64_t lineErrors = 0;
    UnitOutcome outcome = UnitOutcome::NoResult;
};

// ISO 8601 local time with its UTC offset, to the second: "2026-03-14T09:26:53+01:00".
std::string IsoTime(const LocalTime& time);

// A field quoted as RFC 4180 asks: in double quotes, with every quote doubled, when it holds
// a comma, a quote, CR or LF (or begins or ends with a blank, which readers may trim).
std::string CsvField(std::string_view text);

// The header line and one record's line, each ending in CR LF.
std::string CsvHeader();
std::string CsvLine(const UnitRecord& record);

} // namespace upload
