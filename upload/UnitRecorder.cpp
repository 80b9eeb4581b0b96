#include "upload/UnitRecorder.h"

#include <QFile>
#include <QFileInfo>

namespace upload {

std::chrono::milliseconds UnitRecorder::ResultBound{60000};

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t MillisecondsSince(Clock::time_point since)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

} // namespace

std::string AppendCsvLine(const std::string& path, const std::string& line)
{
    QFile file(QString::fromLocal8Bit(path.data(), qsizetype(path.size())));
    // Unbuffered: each line leaves in one write, and O_APPEND puts it at the end even when
    // another program appends meanwhile, so no reader ever sees half a line.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return file.errorString().toStdString();
    const auto write = [&file](const std::string& text) {
        return file.write(text.data(), qint64(text.size())) == qint64(text.size());
    };
    if (file.size() == 0 && !write(CsvHeader()))
        return file.errorString().toStdString();
    if (!write(line))
        return file.errorString().toStdString();
    return {};
}

std::string FirstUnwritable(const std::vector<std::string>& names)
{
    for (const std::string& name : names) {
        const QFileInfo info(QString::fromLocal8Bit(name.data(), qsizetype(name.size())));
        bool writable;
        if (info.exists()) {
            QFile file(info.filePath());
            writable = file.open(QIODevice::WriteOnly | QIODevice::Append);
        } else {
            writable = QFileInfo(info.absolutePath()).isWritable();
        }
        if (!writable)
            return info.absoluteFilePath().toLocal8Bit().toStdString();
    }
    return {};
}

UnitRecorder::UnitRecorder(std::function<void(const std::string&)> onFailure)
    : onFailure_(std::move(onFailure))
{
    silence_.setSingleShot(true);
    QObject::connect(&silence_, &QTimer::timeout, [this] {
        if (waiting_)
            Finish(UnitOutcome::NoResult, true);
    });
}

UnitRecorder::~UnitRecorder()
{
    if (record_)
        Finish(waiting_ ? UnitOutcome::NoResult : UnitOutcome::Cancelled, false);
}

void UnitRecorder::FileChecked(std::uint64_t size, std::string sha256)
{
    checkedSize_ = size;
    checkedSha_ = std::move(sha256);
}

void UnitRecorder::Begin(std::string port, std::string device, std::uint32_t baud, std::string file)
{
    // A cycle still waiting for its verdict when the next transfer starts got none.
    if (record_)
        Finish(UnitOutcome::NoResult, true);
    UnitRecord r;
    r.start = QDateTime::currentDateTime();
    r.port = std::move(port);
    r.device = std::move(device);
    r.baud = baud;
    r.file = std::move(file);
    r.fileSize = checkedSize_;
    r.sha256 = checkedSha_;
    record_ = std::move(r);
    started_ = Clock::now();
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

void UnitRecorder::Held(bool held)
{
    if (!record_ || waiting_)
        return;
    if (held && !holdSince_) {
        holdSince_ = Clock::now();
        ++record_->xoffHolds;
    } else if (!held && holdSince_) {
        record_->longestHoldMs = std::max(record_->longestHoldMs, MillisecondsSince(*holdSince_));
        holdSince_.reset();
    }
}

void UnitRecorder::TransferEnded(std::optional<UnitOutcome> outcome)
{
    if (!record_ || waiting_)
        return;
    Held(false);
    record_->transferMs = MillisecondsSince(started_);
    if (outcome) {
        Finish(*outcome, true);
        return;
    }
    waiting_ = true;
    silence_.start(ResultBound);
}

void UnitRecorder::StatusShown(std::string_view statusText)
{
    if (!waiting_)
        return;
    if (const auto outcome = OutcomeOfStatus(statusText))
        Finish(*outcome, true);
}

void UnitRecorder::UnitSpoke()
{
    if (waiting_)
        silence_.start(ResultBound);
}

void UnitRecorder::UnitGreeted()
{
    if (waiting_)
        Finish(UnitOutcome::NoResult, true);
}

void UnitRecorder::Finish(UnitOutcome outcome, bool report)
{
    silence_.stop();
    UnitRecord r = std::move(*record_);
    record_.reset();
    waiting_ = false;
    r.end = QDateTime::currentDateTime();
    r.outcome = outcome;
    const std::string error = AppendCsvLine(UnitRecordFileName, CsvLine(r));
    if (!error.empty() && report && onFailure_)
        onFailure_(QFileInfo(UnitRecordFileName).absoluteFilePath().toStdString());
}

} // namespace upload
