// The transfer of a firmware file: the file's lines sent one after the other, paced by the
// line and the unit's XON/XOFF through the port's transmitter, with progress, Cancel, single
// step, and the end only once the last byte has left the device.
#include "platform/Sha256.h"
#include "upload/FirmwareCheck.h"
#include "upload/UploadEngine.h"
#include "upload/UploadRun.h"

#include <algorithm>
#include <limits>
#include <sstream>

namespace upload {

namespace {

int ClampToInt(long long value)
{
    return int(std::clamp<long long>(value, 0, std::numeric_limits<int>::max()));
}

} // namespace

UploadEngine::~UploadEngine() = default;

void UploadEngine::FileNotChosen()
{
    Report("Could not open file.");
}

void UploadEngine::Transfer(const FirmwareFile& file)
{
    // Select File is disabled while a transfer runs; the published handler may still come.
    if (transfer_)
        return;
    Report("Opening file " + file.path);
    if (!file.opened) {
        Report("Unable to open " + file.path);
        host_.Log("status : " + file.error);
        // The unit is still connected: another file may be chosen at once.
        if (state_ == Connected)
            host_.BrowseEnabled(true);
        return;
    }
    if (!CheckFile(file))
        return;
    Report("Transferring file " + file.path);
    BeginTransfer(file);
}

bool UploadEngine::CheckFile(const FirmwareFile& file)
{
    const FirmwareCheckResult check = CheckFirmware(file.bytes);
    if (!check.ok) {
        Report("File check failed: " + check.FailureText());
        // The unit has received nothing and stays connected: another file may be chosen.
        host_.BrowseEnabled(true);
        return false;
    }
    // The bytes checked are the bytes hashed, recorded and sent.
    const std::string sha256 = Sha256Hex(file.bytes);
    records_.FileChecked(file.bytes.size(), sha256);
    if (check.facts.format != FirmwareFormat::Other)
        host_.Log("file check : " + FirmwareFactsText(check.facts, sha256));
    // A text of another format is sent as it is, but not without a word.
    else if (const std::string unchecked = check.UncheckedText(); !unchecked.empty())
        Report(unchecked);
    return true;
}

void UploadEngine::BeginTransfer(const FirmwareFile& file)
{
    auto run = std::make_unique<Run>();
    run->reader = FirmwareReader(std::make_unique<std::istringstream>(file.bytes));
    run->maximum = ClampToInt((long long)file.bytes.size() / 4);
    host_.ProgressMaximum(run->maximum);
    state_ = Uploading;
    const PortIdentity port = host_.Port();
    records_.Begin(port.port, port.device, port.baud, file.absolutePath, host_.WallNow(),
                   host_.Now());
    run->ahead = std::clamp<std::size_t>(port.baud / kAheadDivisor, kAheadMin, kAheadMax);
    run->nominalAhead = run->ahead;
    run->paceSince = host_.Now();
    run->before = outstanding_;
    errorsLogged_ = 0;
    transfer_ = std::move(run);
    host_.HighPriority(true);
    if (held_) {
        SetLamp(true);
        records_.Held(true, host_.Now());
    }
    Pump();
}

void UploadEngine::Pump()
{
    if (!transfer_)
        return;
    Run& r = *transfer_;
    if (cancelRequest_) {
        EndTransfer(End::Cancelled);
        return;
    }
    while (!r.stepLine && !r.reader.AtEnd() && r.sent - r.taken < r.ahead) {
        std::string line = r.reader.ReadLine();
        line += '\n';
        if (host_.AddCr())
            line += '\r';
        ++r.lineCount;
        r.byteCount += (long long)line.size();
        if (r.lineCount % 10 == 0)
            SetStatus("Number of Lines: " + std::to_string(r.lineCount));
        if (host_.SingleStep()) {
            r.stepLine = std::move(line);
            host_.AskStep();
            return;
        }
        if (!SendLine(std::move(line)))
            return;
    }
    // Finished once every line was taken and has left the device.
    if (r.reader.AtEnd() && !r.stepLine && r.lines.empty() && r.drained)
        EndTransfer(End::Finished);
}

bool UploadEngine::SendLine(std::string line)
{
    Run& r = *transfer_;
    // The bar keeps its maximum when the count runs ahead (LF-only files).
    host_.Progress(std::min(ClampToInt(r.byteCount / 4), r.maximum));
    const std::string refused = host_.Send(line);
    if (!refused.empty()) {
        // A port that is not open takes nothing: the transfer ends as a failed write ends it.
        EndTransfer(End::Failed, refused);
        return false;
    }
    outstanding_ += line.size();
    r.sent += line.size();
    r.lines.emplace_back(r.sent, line.size());
    r.drained = false;
    ++r.byteCount;
    return true;
}

void UploadEngine::StepAnswered(bool /*goOn*/)
{
    if (!transfer_ || !transfer_->stepLine)
        return;
    std::string line = std::move(*transfer_->stepLine);
    transfer_->stepLine.reset();
    // The line is sent whatever the answer; the host unticks single step on a Cancel.
    if (SendLine(std::move(line)))
        Pump();
}

void UploadEngine::SendProgress(std::uint64_t taken, std::uint64_t dropped, bool drained)
{
    outstanding_ -= std::min(outstanding_, taken + dropped);
    if (!transfer_)
        return;
    Run& r = *transfer_;
    // The reports cover the bytes in the order they were sent: those from before the
    // transfer first.
    const std::uint64_t earlier = std::min(r.before, taken + dropped);
    r.before -= earlier;
    const std::uint64_t mine = taken - std::min(taken, earlier);
    r.taken += mine;
    r.drained = drained;
    r.paceBytes += mine;
    if (const auto now = host_.Now(); now - r.paceSince >= kAheadSpan) {
        const double span = std::chrono::duration<double>(now - r.paceSince).count();
        const double perSpan =
            double(r.paceBytes) * std::chrono::duration<double>(kAheadSpan).count() / span;
        r.ahead = std::clamp<std::size_t>(std::size_t(2 * perSpan), r.nominalAhead, kAheadMax);
        r.paceBytes = 0;
        r.paceSince = now;
    }
    AccountTaken();
    Pump();
}

void UploadEngine::AccountTaken()
{
    Run& r = *transfer_;
    // A line counts as sent once the driver took its last byte.
    while (!r.lines.empty() && r.lines.front().first <= r.taken) {
        records_.LineSent(r.lines.front().second);
        r.lines.pop_front();
    }
}

void UploadEngine::Cancel()
{
    cancelRequest_ = true;
    if (transfer_)
        EndTransfer(End::Cancelled);
}

void UploadEngine::SetLamp(bool lit)
{
    if (xoffShown_ == lit)
        return;
    xoffShown_ = lit;
    host_.XoffLamp(lit);
}

void UploadEngine::EndTransfer(End how, const std::string& failure)
{
    const int maximum = transfer_->maximum;
    if (how != End::Finished)
        host_.AbandonSends();
    host_.HighPriority(false);
    // The lamp shows a hold that stops the transfer: none is left to wait for.
    SetLamp(false);
    const auto now = host_.Now();
    const LocalTime wall = host_.WallNow();
    switch (how) {
    case End::Failed:
        records_.TransferEnded(UnitOutcome::SendError, wall, now);
        break;
    case End::Cancelled:
        records_.TransferEnded(UnitOutcome::Cancelled, wall, now);
        break;
    case End::Finished:
        records_.TransferEnded(std::nullopt, wall, now);
        break;
    case End::UnitEnded:
        // The unit's own message ends the record.
        break;
    }
    transfer_.reset();
    state_ = AwaitingProgramResult;
    switch (how) {
    case End::Failed:
        // A failed write ends the transfer as Cancel does: the unit is left to report.
        Report(failure);
        host_.Advise(failure);
        cancelRequest_ = false;
        break;
    case End::Cancelled:
        Report("Upload Canceled");
        cancelRequest_ = false;
        break;
    case End::Finished:
        Report("Finished Uploading");
        host_.Progress(maximum);
        break;
    case End::UnitEnded:
        cancelRequest_ = false;
        break;
    }
}

} // namespace upload
