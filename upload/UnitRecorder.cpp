#include "upload/UnitRecorder.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace upload {

std::chrono::milliseconds UnitRecorder::ResultBound{60000};

namespace {

std::int64_t MillisecondsBetween(UnitRecorder::Clock::time_point from,
                                 UnitRecorder::Clock::time_point to)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

std::string SystemReason()
{
    return std::error_code(errno, std::generic_category()).message();
}

} // namespace

std::string AppendCsvLine(const std::string& path, const std::string& line)
{
    return AppendCsvLine(path, line, CsvHeader());
}

std::string AppendCsvLine(const std::string& path, const std::string& line,
                          const std::string& header)
{
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    const std::string text = (ec || size == 0 ? header : std::string()) + line;
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (!file)
        return SystemReason();
    // Unbuffered: the line leaves in one write, and append mode puts it at the end even when
    // another program appends meanwhile, so no reader ever sees half a line.
    std::setvbuf(file, nullptr, _IONBF, 0);
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const std::string reason = written ? std::string() : SystemReason();
    const bool closed = std::fclose(file) == 0;
    if (!written)
        return reason;
    return closed ? std::string() : SystemReason();
}

UnitRecorder::UnitRecorder(std::function<void(const UnitRecord&)> write) : write_(std::move(write))
{
}

void UnitRecorder::FileChecked(std::uint64_t size, std::string sha256)
{
    checkedSize_ = size;
    checkedSha_ = std::move(sha256);
}

void UnitRecorder::Begin(std::string port, std::string device, std::uint32_t baud, std::string file,
                         LocalTime wall, Clock::time_point now)
{
    // A cycle still waiting for its verdict when the next transfer starts got none.
    if (record_)
        Finish(UnitOutcome::NoResult, wall);
    UnitRecord r;
    r.start = wall;
    r.port = std::move(port);
    r.device = std::move(device);
    r.baud = baud;
    r.file = std::move(file);
    r.fileSize = checkedSize_;
    r.sha256 = checkedSha_;
    record_ = std::move(r);
    started_ = now;
    holdSince_.reset();
    waiting_ = false;
}

void UnitRecorder::LineSent(std::size_t bytes)
{
    if (!record_ || waiting_)
        return;
    record_->bytesSent += bytes;
    ++record_->linesSent;
}

void UnitRecorder::Held(bool held, Clock::time_point now)
{
    if (!record_ || waiting_)
        return;
    if (held && !holdSince_) {
        holdSince_ = now;
        ++record_->xoffHolds;
    } else if (!held && holdSince_) {
        record_->longestHoldMs =
            std::max(record_->longestHoldMs, MillisecondsBetween(*holdSince_, now));
        holdSince_.reset();
    }
}

void UnitRecorder::LineError()
{
    if (record_ && !waiting_)
        ++record_->lineErrors;
}

void UnitRecorder::TransferEnded(std::optional<UnitOutcome> outcome, LocalTime wall,
                                 Clock::time_point now)
{
    if (!record_ || waiting_)
        return;
    Held(false, now);
    record_->transferMs = MillisecondsBetween(started_, now);
    if (outcome) {
        Finish(*outcome, wall);
        return;
    }
    waiting_ = true;
    silenceSince_ = now;
}

void UnitRecorder::StatusShown(std::string_view statusText, LocalTime wall, Clock::time_point now)
{
    if (!record_)
        return;
    if (const auto outcome = OutcomeOfStatus(statusText)) {
        // A verdict during the transfer (the unit gave up) ends it too.
        if (!waiting_)
            record_->transferMs = MillisecondsBetween(started_, now);
        Finish(*outcome, wall);
    }
}

void UnitRecorder::UnitSpoke(Clock::time_point now)
{
    if (waiting_)
        silenceSince_ = now;
}

void UnitRecorder::UnitGreeted(LocalTime wall, Clock::time_point now)
{
    if (!record_)
        return;
    if (!waiting_)
        record_->transferMs = MillisecondsBetween(started_, now);
    Finish(UnitOutcome::NoResult, wall);
}

bool UnitRecorder::Tick(LocalTime wall, Clock::time_point now)
{
    if (!waiting_ || now - silenceSince_ < ResultBound)
        return false;
    Finish(UnitOutcome::NoResult, wall);
    return true;
}

void UnitRecorder::Close(LocalTime wall, Clock::time_point now)
{
    if (!record_)
        return;
    if (!waiting_)
        record_->transferMs = MillisecondsBetween(started_, now);
    Finish(waiting_ ? UnitOutcome::NoResult : UnitOutcome::Cancelled, wall);
}

void UnitRecorder::Finish(UnitOutcome outcome, LocalTime wall)
{
    UnitRecord r = std::move(*record_);
    record_.reset();
    waiting_ = false;
    holdSince_.reset();
    r.end = wall;
    r.outcome = outcome;
    if (write_)
        write_(r);
}

} // namespace upload
