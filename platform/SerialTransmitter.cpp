#include "platform/SerialTransmitter.h"

#include "platform/SerialLineSettings.h"

#include <algorithm>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The most handed over in one call: large enough that an unpaced line costs one call per
// this many bytes, small enough that a copy of it costs nothing.
constexpr std::size_t kMaxBlock = 64 * 1024;
// How long one hand-over waits for a held line before the thread looks at its requests again
// (an Abandon or the destructor ends the wait at once; this only bounds a lost wake-up).
constexpr milliseconds kHandOverWait{1000};
// The drain watch looks again after about the line time of what is left, within these bounds
// (no event tells when a transmit queue empties).
constexpr milliseconds kDrainPollMin{1};
constexpr milliseconds kDrainPollMax{50};
// What the drain allows beyond the bytes' line time before it stops waiting for a queue that
// does not tell (a USB adapter's latency timer).
constexpr milliseconds kDrainMargin{100};

} // namespace

SerialTransmitter::SerialTransmitter(SerialPort& port, std::function<void()> notify)
    : port_(port), notify_(std::move(notify))
{
    thread_ = std::thread([this] { Run(); });
}

SerialTransmitter::~SerialTransmitter()
{
    {
        std::lock_guard lock(m_);
        stop_ = true;
        ++abandonCount_;
    }
    port_.AbortWrite();
    cv_.notify_all();
    thread_.join();
}

void SerialTransmitter::Send(const char* data, std::size_t count)
{
    if (count == 0)
        return;
    {
        std::lock_guard lock(m_);
        progress_.submitted += count;
        if (progress_.failure != SerialResult::Ok) {
            progress_.dropped += count;
            return;
        }
        progress_.drained = false;
        if (!queue_.empty() && queue_.back().size() + count <= kMaxBlock)
            queue_.back().append(data, count);
        else
            queue_.emplace_back(data, count);
    }
    cv_.notify_all();
}

void SerialTransmitter::Abandon()
{
    {
        std::lock_guard lock(m_);
        ++abandonCount_;
        for (const std::string& block : queue_)
            progress_.dropped += block.size();
        queue_.clear();
    }
    // After the count moved: a hand-over that took its mark before sees the abort.
    port_.AbortWrite();
    cv_.notify_all();
}

SerialTransmitter::Progress SerialTransmitter::Snapshot() const
{
    std::lock_guard lock(m_);
    return progress_;
}

SerialSendReport SerialTransmitter::TakeReport()
{
    const Progress now = Snapshot();
    SerialSendReport report;
    report.taken = now.taken - reported_.taken;
    report.dropped = now.dropped - reported_.dropped;
    report.drained = now.drained;
    report.held = port_.OutputHeld();
    port_.ClearError(&report.lineErrors, nullptr);
    if (now.failure != SerialResult::Ok && !failureReported_) {
        failureReported_ = true;
        report.failure = "Send Error: ";
        report.failure += std::to_string(now.failErrno);
    }
    reported_ = now;
    return report;
}

void SerialTransmitter::TakeBlock(std::string& out)
{
    out.clear();
    while (!queue_.empty() && out.size() + queue_.front().size() <= kMaxBlock) {
        if (out.empty())
            out.swap(queue_.front());
        else
            out += queue_.front();
        queue_.pop_front();
    }
    if (out.empty() && !queue_.empty()) {
        out.swap(queue_.front());
        queue_.pop_front();
    }
}

void SerialTransmitter::Tell()
{
    if (notify_)
        notify_();
}

void SerialTransmitter::Run()
{
    std::string block;
    std::unique_lock lock(m_);
    for (;;) {
        cv_.wait(lock, [this] { return stop_ || !queue_.empty() || drainDue_; });
        if (stop_)
            return;
        if (queue_.empty()) {
            WatchDrain(lock);
            continue;
        }
        TakeBlock(block);
        const std::uint64_t abandoned = abandonCount_;
        // Taken under m_, as Abandon counts: an Abandon from now on ends this hand-over.
        const std::uint64_t mark = port_.WriteAbortMark();
        lock.unlock();

        std::size_t done = 0;
        SerialResult result = SerialResult::Ok;
        while (done < block.size()) {
            std::size_t written = 0;
            result = port_.Write(block.data() + done, block.size() - done, &written, kHandOverWait,
                                 mark);
            done += std::min(written, block.size() - done);
            if (result == SerialResult::Timeout) {
                std::lock_guard check(m_);
                if (stop_ || abandonCount_ != abandoned)
                    break;
                continue;
            }
            // A purge of the port ends a hand-over too; it is no reason to drop these bytes,
            // which the transmitter's caller was told were on their way: go on with the rest
            // unless this transmitter was told to drop them.
            if (result == SerialResult::Aborted) {
                std::lock_guard check(m_);
                if (stop_ || abandonCount_ != abandoned)
                    break;
                continue;
            }
            break;
        }
        const int failErrno = result == SerialResult::IoError ? port_.LastErrno() : 0;

        lock.lock();
        progress_.taken += done;
        progress_.dropped += block.size() - done;
        if (result == SerialResult::IoError) {
            progress_.failure = SerialResult::IoError;
            progress_.failErrno = failErrno;
            for (const std::string& rest : queue_)
                progress_.dropped += rest.size();
            queue_.clear();
        }
        drainDue_ = queue_.empty();
        lock.unlock();
        Tell();
        lock.lock();
    }
}

void SerialTransmitter::WatchDrain(std::unique_lock<std::mutex>& lock)
{
    drainDue_ = false;
    if (progress_.failure != SerialResult::Ok) {
        progress_.drained = true;
        lock.unlock();
        Tell();
        lock.lock();
        return;
    }
    const std::uint64_t abandoned = abandonCount_;
    lock.unlock();
    SerialState line;
    const bool known = port_.GetState(line);
    std::uint32_t queued = port_.OutputQueued();
    // The queue's line time, counted only while the line is not held.
    Clock::duration allowed =
        (known ? LineTime(line, queued) : Clock::duration::zero()) + kDrainMargin;
    auto last = Clock::now();
    lock.lock();
    while (queued > 0 && queue_.empty() && !stop_ && abandonCount_ == abandoned) {
        const auto wait = std::clamp<Clock::duration>(
            known ? LineTime(line, queued) : kDrainPollMax, kDrainPollMin, kDrainPollMax);
        cv_.wait_for(lock, wait);
        lock.unlock();
        const auto now = Clock::now();
        if (!port_.OutputHeld())
            allowed -= now - last;
        last = now;
        queued = allowed <= Clock::duration::zero() ? 0 : port_.OutputQueued();
        lock.lock();
    }
    if (!queue_.empty() || stop_)
        return;
    progress_.drained = true;
    lock.unlock();
    Tell();
    lock.lock();
}
