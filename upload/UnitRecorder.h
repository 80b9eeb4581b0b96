// Follows one cycle that began with a transfer, from its first line to the unit's verdict,
// and appends its line to the unit record: the figures of the transfer, the XOFF holds,
// and the outcome, or "no-result" when the unit stays silent too long or greets first.
#pragma once

#include "upload/UnitRecord.h"

#include <QTimer>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace upload {

// The name of the unit record in the working directory, beside the log.
constexpr const char* UnitRecordFileName = "Orvix500Units.csv";

// Appends `line` to the file at `path` with one write in append mode, after the header line
// when the file is new or empty. Empty on success; the reason otherwise.
std::string AppendCsvLine(const std::string& path, const std::string& line);

// The first of the files named (relative to the working directory) that could not be
// appended to: an existing file that does not open for appending, or a missing one whose
// folder is not writable. Its absolute path, or empty when all are writable. Creates nothing.
std::string FirstUnwritable(const std::vector<std::string>& names);

class UnitRecorder
{
public:
    // How long the unit may stay silent after a transfer before the cycle is recorded as
    // "no-result". Long enough for a unit that erases and programs a large image.
    static std::chrono::milliseconds ResultBound;

    // `onFailure` is told the text to show when a record cannot be written.
    explicit UnitRecorder(std::function<void(const std::string&)> onFailure);
    // A cycle still waiting for its verdict is recorded as "no-result" (without report).
    ~UnitRecorder();
    UnitRecorder(const UnitRecorder&) = delete;
    UnitRecorder& operator=(const UnitRecorder&) = delete;

    // The file about to be sent: its size and SHA-256, taken when it was checked.
    void FileChecked(std::uint64_t size, std::string sha256);
    // A transfer begins: the record's fixed fields (the file's from FileChecked).
    void Begin(std::string port, std::string device, std::uint32_t baud, std::string file);
    void LineSent(std::size_t bytes);
    // The XOFF indicator lit (true) or went dark (false) during the transfer.
    void Held(bool held);
    // The transfer ended: with `outcome` (cancelled, send error) the record is written now;
    // otherwise it waits for the unit's verdict.
    void TransferEnded(std::optional<UnitOutcome> outcome);
    // The dialogue showed a status text: a final verdict completes the waiting record.
    void StatusShown(std::string_view statusText);
    // The unit sent something after the transfer: the silence bound starts again.
    void UnitSpoke();
    // A unit greeted: a record still waiting gets "no-result".
    void UnitGreeted();

    bool Waiting() const { return waiting_; }

    // Whether the working folder's warning is still to be shown (it is shown once).
    bool folderWarningDue = true;

private:
    void Finish(UnitOutcome outcome, bool report);

    std::function<void(const std::string&)> onFailure_;
    std::optional<UnitRecord> record_;
    bool waiting_ = false; // transfer over, verdict awaited
    std::chrono::steady_clock::time_point started_;
    std::optional<std::chrono::steady_clock::time_point> holdSince_;
    std::uint64_t checkedSize_ = 0;
    std::string checkedSha_;
    QTimer silence_;
};

} // namespace upload
