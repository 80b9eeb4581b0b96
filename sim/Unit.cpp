#include "sim/Unit.h"

#include "sim/Records.h"

#include <algorithm>
#include <cstdio>

namespace {

using namespace std::chrono_literals;

// Bursts of the unit's output are kept at least this far apart, so that the uploader, which
// ends a packet at a short pause, never gets two messages in one packet.
constexpr auto kBurstGap = 30ms;
// The greeting of the split-greeting fault pauses this long in the middle: far longer than
// the uploader's inter-byte timeout.
constexpr auto kSplitPause = 100ms;
// A pulled line comes back after this long.
constexpr auto kReplugAfter = 1s;
// After a failed download the unit waits for the sender to fall silent this long before it
// reports, so the report reaches a sender that has finished sending.
constexpr auto kQuietBeforeFailure = 500ms;
// Drain steps are at least this far apart while the buffer holds bytes.
constexpr auto kDrainStep = 2ms;
constexpr std::size_t kMaxLine = 1024;
constexpr std::size_t kFifo = 16;

constexpr char kXon = 0x11;
constexpr char kXoff = 0x13;

std::chrono::nanoseconds Seconds(double s)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(s));
}

// Bytes that keep a download (or the quiet wait after a failed one) alive: anything but the
// uploader's wake-up CRs, which it sends once a second while it waits for a unit and so also
// after it stopped sending the file.
bool IsDownloadTraffic(std::string_view bytes)
{
    return bytes.find_first_not_of('\r') != std::string_view::npos;
}

double SecondsBetween(std::chrono::steady_clock::time_point a,
                      std::chrono::steady_clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

std::string Printable(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (static_cast<unsigned char>(c) < 0x20) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
            out += hex;
        } else
            out += c;
    }
    return out;
}

} // namespace

Unit::Unit(const SimOptions& options, LineDevice& line, std::ostream* trace)
    : o_(options), line_(line), trace_(trace), pause_(std::chrono::milliseconds(options.pauseMs)),
      random_(options.seed)
{
    if (o_.baud > 0)
        byteTime_ = std::chrono::nanoseconds(10'000'000'000LL / o_.baud);
}

std::vector<CycleReport> Unit::Cycles() const
{
    std::lock_guard lock(mutex_);
    return cycles_;
}

unsigned Unit::CompletedCycles() const
{
    std::lock_guard lock(mutex_);
    return completed_;
}

void Unit::Trace(const std::string& text) const
{
    if (!trace_)
        return;
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%10.3f] ", SecondsBetween(start_, Clock::now()));
    *trace_ << stamp << text << std::endl;
}

int Unit::Run()
{
    start_ = Clock::now();
    nextByteAt_ = start_;
    Trace("unit ready on " + line_.DevicePath() +
          (line_.LinkPath().empty() ? std::string() : " (link " + line_.LinkPath() + ")") +
          ", line " + (o_.baud ? std::to_string(o_.baud) + " bit/s" : std::string("unpaced")));
    std::vector<char> buffer(65536);
    while (!finished_) {
        Clock::time_point now = Clock::now();
        if (line_.Interrupted()) {
            Abort(now, "stopped");
            break;
        }
        OnTime(now);
        if (finished_)
            break;
        const Clock::time_point next = NextEvent(now);
        if (!line_.IsOpen()) {
            line_.SleepUntil(next);
            continue;
        }
        const std::size_t want = Allowance(now);
        if (phase_ == Phase::Download && flow_->MayTake() == 0)
            lineIdle_ = true; // held by the unit's own XOFF: the line carries nothing
        if (want == 0) {
            Clock::time_point wake = next;
            if (byteTime_.count() > 0 && nextByteAt_ > now)
                wake = std::min(wake, nextByteAt_);
            line_.SleepUntil(wake);
            continue;
        }
        std::size_t count = 0;
        const auto status = line_.Read(buffer.data(), std::min(want, buffer.size()), &count, next);
        if (status != LineDevice::ReadStatus::Data)
            lineIdle_ = true;
        if (status == LineDevice::ReadStatus::Data) {
            now = Clock::now();
            if (byteTime_.count() > 0) {
                // After the line ran dry (or the unit held it with XOFF) the bytes that come
                // now were not waiting on the wire: the schedule restarts, with at most the
                // FIFO's worth at once. Otherwise the unit catches up on the bytes the line
                // delivered while it slept.
                if (lineIdle_)
                    nextByteAt_ =
                        std::max(nextByteAt_, now - byteTime_ * static_cast<long>(kFifo - 1));
                nextByteAt_ += byteTime_ * static_cast<long>(count);
            }
            lineIdle_ = count < want;
            Consume(now, std::string_view(buffer.data(), count));
        } else if (status == LineDevice::ReadStatus::Dropped) {
            Trace("line lost: " + line_.LastError());
            Abort(now, "line lost: " + line_.LastError());
            line_.Drop();
            replugAt_ = now + kReplugAfter;
        }
    }
    // Give the far end time to read the last message before the line goes away.
    if (finished_ && line_.IsOpen())
        line_.SleepUntil(Clock::now() + pause_ + 200ms);
    Trace("unit stops");
    return exitCode_;
}

std::size_t Unit::Allowance(Clock::time_point now) const
{
    std::size_t allowed = SIZE_MAX;
    if (byteTime_.count() > 0) {
        if (nextByteAt_ > now)
            return 0;
        const auto slots = static_cast<std::size_t>((now - nextByteAt_) / byteTime_) + 1;
        allowed = lineIdle_ ? std::min(slots, kFifo) : slots;
        // Before the download a read may hold its first line: the rest of that read reaches
        // the receive buffer at once, so it stays within the FIFO's worth.
        if (phase_ == Phase::Upload)
            allowed = std::min(allowed, kFifo);
    }
    if (phase_ == Phase::Download)
        allowed = std::min(allowed, flow_->MayTake());
    return allowed;
}

Unit::Clock::time_point Unit::NextEvent(Clock::time_point now) const
{
    Clock::time_point next = now + 1s;
    if (!outbox_.empty())
        next = std::min(next, outbox_.front().at);
    if (replugAt_ != Clock::time_point::max())
        next = std::min(next, replugAt_);
    switch (phase_) {
    case Phase::Upload:
        next = std::min(next, greetAt_);
        break;
    case Phase::Download:
        if (flow_->Fill() > 0)
            next = std::min(next, std::max(flow_->NextDrainTime(), now + kDrainStep));
        next = std::min(next, lastActivity_ + Seconds(o_.lineTimeoutS));
        break;
    case Phase::Discard:
        next = std::min(next, lastActivity_ + kQuietBeforeFailure);
        break;
    case Phase::Results:
        break;
    }
    return std::max(next, now);
}

void Unit::OnTime(Clock::time_point now)
{
    if (!line_.IsOpen() && now >= replugAt_) {
        try {
            line_.Reconnect();
            replugAt_ = Clock::time_point::max();
            Trace("line back on " + line_.DevicePath());
        } catch (const std::exception& e) {
            Trace(std::string("line still gone: ") + e.what());
            replugAt_ = now + kReplugAfter;
        }
    }
    switch (phase_) {
    case Phase::Upload:
        if (now >= greetAt_) {
            greetAt_ = Clock::time_point::max();
            Trace("next unit connected");
            Greet(now);
        }
        break;
    case Phase::Download:
        ProcessDrained(now, flow_->Drain(now));
        if (phase_ == Phase::Download) {
            SendFlowSignal(now);
            if (now - lastActivity_ >= Seconds(o_.lineTimeoutS))
                Fail(now, "no line for " + std::to_string(o_.lineTimeoutS) + " s");
        }
        break;
    case Phase::Discard:
        if (now - lastActivity_ >= kQuietBeforeFailure) {
            phase_ = Phase::Results;
            Schedule(now, o_.dottedResults ? "Download failed." : "Download failed", true);
        }
        break;
    case Phase::Results:
        break;
    }
    while (!outbox_.empty() && outbox_.front().at <= now && !finished_) {
        Outgoing out = std::move(outbox_.front());
        outbox_.pop_front();
        WriteNow(out.text);
        if (out.endsCycle)
            CompleteCycle(Clock::now());
    }
}

void Unit::Consume(Clock::time_point now, std::string_view bytes)
{
    totalBytes_ += bytes.size();
    if (o_.unplugAfter > 0 && !unplugged_ && totalBytes_ >= o_.unplugAfter) {
        const std::uint64_t before = totalBytes_ - bytes.size();
        ConsumeInPhase(now, bytes.substr(0, static_cast<std::size_t>(o_.unplugAfter - before)));
        Unplug(now);
        return;
    }
    ConsumeInPhase(now, bytes);
}

void Unit::ConsumeInPhase(Clock::time_point now, std::string_view bytes)
{
    switch (phase_) {
    case Phase::Upload:
        ConsumeUpload(now, bytes);
        break;
    case Phase::Download:
        ConsumeDownload(now, bytes);
        break;
    case Phase::Discard:
        cycle_.bytes += bytes.size();
        if (IsDownloadTraffic(bytes))
            lastActivity_ = now;
        break;
    case Phase::Results:
        // What follows the end record (the sender's last lone LF) belongs to the cycle too,
        // whether or not the read that took the end record took it as well.
        cycle_.bytes += bytes.size();
        break;
    }
}

void Unit::ConsumeUpload(Clock::time_point now, std::string_view bytes)
{
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\r') {
            // A CR right after a record's text is part of a line end; otherwise it is the
            // uploader's wake-up byte.
            if (!LooksLikeRecord(pending_)) {
                pending_.clear();
                Greet(now);
            }
        } else if (c == '\n') {
            if (LooksLikeRecord(pending_)) {
                StartDownload(now, pending_ + '\n');
                pending_.clear();
                ConsumeInPhase(now, bytes.substr(i + 1));
                return;
            }
            pending_.clear();
        } else if (pending_.size() < kMaxLine) {
            pending_ += c;
        } else {
            pending_.clear();
        }
    }
}

void Unit::StartDownload(Clock::time_point now, const std::string& firstLine)
{
    phase_ = Phase::Download;
    greetAt_ = Clock::time_point::max();
    cycle_ = CycleReport{};
    cycleStart_ = now;
    lastActivity_ = now;
    overrunNoted_ = false;
    lineBuffer_.clear();
    download_ = std::make_unique<Download>(o_.flashSize);
    FlowSettings settings;
    settings.buffer = o_.buffer;
    settings.xoffAt = o_.xoffAt;
    settings.xonAt = o_.xonAt;
    settings.programRate = o_.programRate;
    settings.paced = o_.baud > 0;
    settings.reaction = std::chrono::milliseconds(o_.xoffReactionMs);
    settings.neverXon = o_.neverXon && FaultHere();
    flow_ = std::make_unique<FlowControl>(settings, now);
    Trace("download begins");
    cycle_.bytes += firstLine.size();
    flow_->Arrive(firstLine, now);
    SendFlowSignal(now);
}

void Unit::ConsumeDownload(Clock::time_point now, std::string_view bytes)
{
    ProcessDrained(now, flow_->Drain(now));
    if (phase_ != Phase::Download) {
        ConsumeInPhase(now, bytes);
        return;
    }
    cycle_.bytes += bytes.size();
    if (IsDownloadTraffic(bytes))
        lastActivity_ = now;
    flow_->Arrive(bytes, now);
    if (flow_->OverrunBytes() > 0 && !overrunNoted_) {
        overrunNoted_ = true;
        Trace("receive buffer overrun");
    }
    SendFlowSignal(now);
}

void Unit::ProcessDrained(Clock::time_point now, const std::string& bytes)
{
    for (const char c : bytes) {
        if (phase_ != Phase::Download)
            return;
        if (c == '\n') {
            LineDone(now);
        } else if (c != '\r') {
            if (lineBuffer_.size() >= kMaxLine) {
                Fail(now, "line " + std::to_string(download_->Lines() + 1) + " too long");
                return;
            }
            lineBuffer_ += c;
        }
    }
}

void Unit::LineDone(Clock::time_point now)
{
    const Download::Step step = download_->AddLine(lineBuffer_);
    lineBuffer_.clear();
    lastActivity_ = now;
    switch (step) {
    case Download::Step::Ignored:
        break;
    case Download::Step::Record:
        // A progress mark every 16 records, so the uploader's progress dots move.
        if (download_->Records() % 16 == 0)
            WriteNow("#");
        break;
    case Download::Step::End:
        EndDownload(now);
        break;
    case Download::Step::Bad:
        Fail(now, flow_->OverrunBytes() > 0 ? "receive buffer overrun" : download_->Error());
        break;
    }
}

void Unit::SendFlowSignal(Clock::time_point now)
{
    switch (flow_->Decide(now)) {
    case FlowControl::Signal::Xoff:
        WriteNow(std::string(1, kXoff));
        break;
    case FlowControl::Signal::Xon:
        WriteNow(std::string(1, kXon));
        break;
    case FlowControl::Signal::None:
        break;
    }
}

bool Unit::FaultHere() const
{
    return o_.faultUnit == 0 || cycles_.size() + 1 == o_.faultUnit;
}

void Unit::ReleaseXoff()
{
    if (flow_ && !(o_.neverXon && FaultHere()) && flow_->Release())
        WriteNow(std::string(1, kXon));
}

void Unit::EndDownload(Clock::time_point now)
{
    if (flow_->OverrunBytes() > 0) {
        Fail(now, "receive buffer overrun");
        return;
    }
    ReleaseXoff();
    cycle_.downloadS = SecondsBetween(cycleStart_, now);
    phase_ = Phase::Results;
    const std::vector<std::uint8_t> image = download_->Image().Bytes();
    std::string programFault;
    if (o_.programFail && FaultHere())
        programFault = "programming fault";
    else if (download_->OutsideFlash())
        programFault = download_->FlashError();
    else if (image.empty())
        programFault = "no data records";
    const bool badCrc = o_.badCrc && FaultHere();
    const bool crcOk = !badCrc && CrcTrailerOk(image);
    Trace("end record after " + std::to_string(download_->Records()) + " records, image of " +
          std::to_string(image.size()) + " bytes");

    Clock::time_point at = now;
    // A result message (not the progress text) may come in two bursts.
    auto step = [&](std::string text, bool last = false, bool result = false) {
        at += pause_;
        if (result && o_.splitResults) {
            // The result in two bursts, cut in the middle by a pause longer than the
            // uploader's inter-byte timeout, as a busy line can deliver it.
            const std::size_t half = text.size() / 2;
            Schedule(at, text.substr(0, half), false, false);
            text.erase(0, half);
        }
        Schedule(at, std::move(text), last);
        if (o_.noise && !last)
            ScheduleChatter(at + pause_ / 2);
    };
    step("Erasing...");
    step("Programming...");
    if (!programFault.empty()) {
        cycle_.result = "programming-failed";
        cycle_.reason = programFault;
        step(o_.dottedResults ? "programming failed." : "programming failed", true, true);
        return;
    }
    step(o_.dottedResults ? "programming complete." : "programming complete", false, true);
    step("Checking CRC...");
    if (crcOk) {
        cycle_.result = "crc-ok";
        step(o_.dottedResults ? "CRC is O.K" : "CRC is OK", true, true);
    } else {
        cycle_.result = "crc-bad";
        cycle_.reason = badCrc ? "bad-crc fault" : "CRC-32 trailer does not match";
        step(o_.dottedResults ? "CRC is B.A.D" : "CRC is BAD", true, true);
    }
}

void Unit::Fail(Clock::time_point now, const std::string& reason)
{
    Trace("download failed: " + reason);
    cycle_.result = "download-failed";
    cycle_.reason = reason;
    cycle_.downloadS = SecondsBetween(cycleStart_, now);
    ReleaseXoff();
    phase_ = Phase::Discard;
    lastActivity_ = now;
}

void Unit::CompleteCycle(Clock::time_point now)
{
    if (download_) {
        cycle_.lines = download_->Lines();
        cycle_.records = download_->Records();
    }
    if (flow_) {
        cycle_.maxFill = flow_->MaxFill();
        cycle_.xoffSent = flow_->XoffSent();
        cycle_.overrunBytes = flow_->OverrunBytes();
        if (o_.baud == 0)
            cycle_.bytesAfterXoff = flow_->BytesAfterXoff();
    }
    cycle_.durationS = SecondsBetween(cycleStart_, now);
    if (cycle_.result.empty())
        cycle_.result = "aborted";
    Trace("cycle ends: " + cycle_.result +
          (cycle_.reason.empty() ? "" : " (" + cycle_.reason + ")"));
    std::vector<CycleReport> all;
    {
        std::lock_guard lock(mutex_);
        cycles_.push_back(cycle_);
        if (cycle_.result != "aborted")
            ++completed_;
        all = cycles_;
    }
    if (!o_.report.empty()) {
        std::string error;
        if (!WriteReport(o_.report, all, error))
            Trace("report not written: " + error);
    }
    download_.reset();
    flow_.reset();
    phase_ = Phase::Upload;
    pending_.clear();
    if (o_.greetAfterS > 0)
        greetAt_ = now + Seconds(o_.greetAfterS);
    if (o_.units > 0 && CompletedCycles() >= o_.units)
        finished_ = true;
}

void Unit::Abort(Clock::time_point now, const std::string& why)
{
    outbox_.clear();
    if (phase_ == Phase::Upload)
        return;
    cycle_.result = "aborted";
    cycle_.reason = why;
    CompleteCycle(now);
}

void Unit::Unplug(Clock::time_point now)
{
    unplugged_ = true;
    Trace("line pulled after " + std::to_string(o_.unplugAfter) + " bytes");
    Abort(now, "line pulled");
    greetAt_ = Clock::time_point::max();
    line_.Drop();
    replugAt_ = now + kReplugAfter;
}

void Unit::Greet(Clock::time_point now)
{
    const std::string greeting = o_.lowercaseGreeting ? "please start up" : "Please start up";
    if (o_.splitGreeting) {
        Schedule(now, greeting.substr(0, 9), false, false);
        Schedule(now + kSplitPause, greeting.substr(9));
    } else {
        Schedule(now, greeting);
    }
    if (o_.noise)
        ScheduleChatter(now + pause_ / 2);
}

void Unit::Schedule(Clock::time_point at, std::string text, bool endsCycle, bool lineEnd)
{
    at = std::max(at, lastScheduled_ + kBurstGap);
    lastScheduled_ = at;
    outbox_.push_back({at, lineEnd ? text + "\r\n" : std::move(text), endsCycle});
}

void Unit::ScheduleChatter(Clock::time_point at)
{
    static constexpr char kChars[] = "ABCDEFGHJKLMNPQRSTUVWXYZ0123456789#%&*+=<>?~";
    std::uniform_int_distribution<int> length(6, 24);
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kChars - 2);
    std::string text;
    for (int i = length(random_); i > 0; --i)
        text += kChars[pick(random_)];
    Schedule(at, text);
}

void Unit::WriteNow(std::string_view bytes)
{
    if (!line_.IsOpen())
        return;
    const std::size_t n = line_.Write(bytes, Clock::now() + 1s);
    if (n < bytes.size())
        Trace("output not taken: " + Printable(bytes.substr(n)));
    else if (bytes.size() > 1)
        Trace("sent \"" + Printable(bytes) + "\"");
    else if (bytes[0] == kXoff)
        Trace("sent XOFF (fill " + std::to_string(flow_ ? flow_->Fill() : 0) + ")");
    else if (bytes[0] == kXon)
        Trace("sent XON (fill " + std::to_string(flow_ ? flow_->Fill() : 0) + ")");
}
