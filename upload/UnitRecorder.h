// Follows one cycle that began with a transfer, from its first line to the unit's verdict,
// and hands its line of the unit record to be written: the figures of the transfer, the XOFF
// holds, the line errors and the outcome, or "no-result" when the unit stays silent too long
// or greets first. Time comes in with the calls; it keeps no timer of its own.
#pragma once

#include "upload/UnitRecord.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace upload {

// The name of the unit record in the working directory, beside the log.
constexpr const char* UnitRecordFileName = "Orvix500Units.csv";

// Appends `line` to the file at `path` with one write in append mode, after the header line
// (the uploader's, or `header` for a record with more columns) when the file is new or empty.
// Empty on success; the reason otherwise.
std::string AppendCsvLine(const std::string& path, const std::string& line);
std::string AppendCsvLine(const std::string& path, const std::string& line,
                          const std::string& header);

class UnitRecorder
{
public:
    using Clock = std::chrono::steady_clock;
    // How long the unit may stay silent after a transfer before the cycle is recorded as
    // "no-result". Long enough for a unit that erases and programs a large image.
    static std::chrono::milliseconds ResultBound;

    // `write` is given each finished record.
    explicit UnitRecorder(std::function<void(const UnitRecord&)> write);
    UnitRecorder(const UnitRecorder&) = delete;
    UnitRecorder& operator=(const UnitRecorder&) = delete;

    // The file about to be sent: its size and SHA-256, taken when it was checked.
    void FileChecked(std::uint64_t size, std::string sha256);
    // A transfer begins: the record's fixed fields (the file's from FileChecked).
    void Begin(std::string port, std::string device, std::uint32_t baud, std::string file,
               LocalTime wall, Clock::time_point now);
    void LineSent(std::size_t bytes);
    // The unit's hold on the line began (true) or ended (false) during the transfer.
    void Held(bool held, Clock::time_point now);
    void LineError();
    // The transfer ended: with `outcome` (cancelled, send error) the record is written now;
    // otherwise it waits for the unit's verdict.
    void TransferEnded(std::optional<UnitOutcome> outcome, LocalTime wall, Clock::time_point now);
    // The dialogue showed a status text: a final verdict completes the waiting record.
    void StatusShown(std::string_view statusText, LocalTime wall, Clock::time_point now);
    // The unit sent something after the transfer: the silence bound starts again.
    void UnitSpoke(Clock::time_point now);
    // A unit greeted: a record still open gets "no-result".
    void UnitGreeted(LocalTime wall, Clock::time_point now);
    // Time passes: a verdict awaited beyond the bound gives "no-result". True when it did.
    bool Tick(LocalTime wall, Clock::time_point now);
    // The program ends: a cycle still open is recorded ("no-result" while a verdict is
    // awaited, "cancelled" during a transfer).
    void Close(LocalTime wall, Clock::time_point now);

    bool Waiting() const { return waiting_; }
    bool Open() const { return record_.has_value(); }

private:
    void Finish(UnitOutcome outcome, LocalTime wall);

    std::function<void(const UnitRecord&)> write_;
    std::optional<UnitRecord> record_;
    bool waiting_ = false; // transfer over, verdict awaited
    Clock::time_point started_{};
    Clock::time_point silenceSince_{};
    std::optional<Clock::time_point> holdSince_;
    std::uint64_t checkedSize_ = 0;
    std::string checkedSha_;
};

} // namespace upload
