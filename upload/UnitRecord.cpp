#include "upload/UnitRecord.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>

// RFC 4180 quoting is a few lines; neither Qt nor a well-kept Debian-packaged C++ library
// offers a CSV writer worth a dependency for one line per unit.

namespace upload {

namespace {

constexpr std::array<std::string_view, 7> OutcomeNames = {
    "crc-ok",    "crc-bad",    "programming-failed", "download-failed",
    "cancelled", "send-error", "no-result"};

// New columns go at the end, so readers that take the columns by position keep working.
constexpr std::array<std::string_view, 15> Columns = {
    "start",       "end",     "port",       "device",     "baud",       "file",
    "file_size",   "sha256",  "bytes_sent", "lines_sent", "xoff_holds", "longest_hold_ms",
    "transfer_ms", "outcome", "line_errors"};

} // namespace

std::string_view OutcomeName(UnitOutcome outcome)
{
    return OutcomeNames[static_cast<std::size_t>(outcome)];
}

std::optional<UnitOutcome> OutcomeOfStatus(std::string_view statusText)
{
    static constexpr std::array<std::pair<std::string_view, UnitOutcome>, 5> Finals = {{
        {"CRC OK!!!  Waiting for Connection...", UnitOutcome::CrcOk},
        {"CRC Bad!!!  Waiting for Connection...", UnitOutcome::CrcBad},
        {"Programming Failed!!!  Waiting for Connection...", UnitOutcome::ProgrammingFailed},
        {"Download Failed!!!  Waiting for Connection...", UnitOutcome::DownloadFailed},
        {NoResultStatus, UnitOutcome::NoResult},
    }};
    for (const auto& [text, outcome] : Finals)
        if (text == statusText)
            return outcome;
    return std::nullopt;
}

std::string IsoTime(const LocalTime& time)
{
    using namespace std::chrono;
    const int offset = time.utcOffsetSeconds;
    const sys_seconds local = time.utc + seconds(offset);
    const sys_days day = floor<days>(local);
    const year_month_day date(day);
    const hh_mm_ss clock(local - day);
    const int minutes = std::abs(offset) / 60;
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d%c%02d:%02d", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()), int(clock.hours().count()),
                  int(clock.minutes().count()), int(clock.seconds().count()),
                  offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return text;
}

std::string CsvField(std::string_view text)
{
    const bool quote = text.find_first_of(",\"\r\n") != std::string_view::npos ||
                       (!text.empty() && (text.front() == ' ' || text.back() == ' '));
    if (!quote)
        return std::string(text);
    std::string field = "\"";
    for (const char c : text) {
        if (c == '"')
            field += '"';
        field += c;
    }
    field += '"';
    return field;
}

std::string CsvHeader()
{
    std::string line;
    for (const std::string_view column : Columns)
        line.append(line.empty() ? "" : ",").append(column);
    return line + "\r\n";
}

std::string CsvLine(const UnitRecord& r)
{
    const std::string fields[] = {IsoTime(r.start),
                                  IsoTime(r.end),
                                  r.port,
                                  r.device,
                                  std::to_string(r.baud),
                                  r.file,
                                  std::to_string(r.fileSize),
                                  r.sha256,
                                  std::to_string(r.bytesSent),
                                  std::to_string(r.linesSent),
                                  std::to_string(r.xoffHolds),
                                  std::to_string(r.longestHoldMs),
                                  std::to_string(r.transferMs),
                                  std::string(OutcomeName(r.outcome)),
                                  std::to_string(r.lineErrors)};
    static_assert(std::size(fields) == Columns.size());
    std::string line;
    for (std::size_t i = 0; i < std::size(fields); ++i)
        line.append(i == 0 ? "" : ",").append(CsvField(fields[i]));
    return line + "\r\n";
}

} // namespace upload
