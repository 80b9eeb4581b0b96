// The outcome of each upload cycle and the JSON report that gathers them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct CycleReport
{
    std::string result; // "crc-ok", "crc-bad", "programming-failed", "download-failed", "aborted"
    std::string reason; // why a cycle failed, in words (empty when it did not)
    unsigned lines = 0;
    std::uint64_t bytes = 0;
    unsigned records = 0;
    std::size_t maxFill = 0;
    unsigned xoffSent = 0;
    std::uint64_t overrunBytes = 0;
    std::optional<std::uint64_t> bytesAfterXoff; // none when the line is paced
    double durationS = 0; // from the first line of the download to the result message
    double downloadS = 0; // from the first line to the end record (or the failure)
};

// The report's JSON text: {"units": [ {...}, ... ]}.
std::string ReportJson(const std::vector<CycleReport>& cycles);
// Replaces the file at `path` with the report in one step (readers never see half of it).
// Returns false with the reason in `error`.
bool WriteReport(const std::string& path, const std::vector<CycleReport>& cycles,
                 std::string& error);
