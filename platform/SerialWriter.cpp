#include "platform/SerialWriter.h"

#include "platform/PollWait.h"
#include "platform/SerialIo.h"

#include <algorithm>
#include <cerrno>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// The writer hands bytes over only while the kernel's transmit queue holds at most this
// many: adapters that ignore a stop request still send what the kernel holds after an XOFF.
constexpr int kOutQueueLimit = 128;
// ... and waits for the queue to fall to this level before topping it up again, so that
// the line never runs dry while writes stay few.
constexpr int kOutQueueLow = 64;

Clock::time_point DeadlineAfter(std::chrono::milliseconds wait)
{
    const auto now = Clock::now();
    if (wait.count() < 0)
        return now;
    if (wait >=
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::time_point::max() - now))
        return Clock::time_point::max();
    return now + wait;
}

} // namespace

SerialResult WriteBytes(SerialIo& p, const char* data, std::size_t count, std::size_t* written,
                        std::chrono::milliseconds maxWait, std::uint64_t abortMark)
{
    std::size_t done = 0;
    if (written)
        *written = 0;
    const auto deadline = DeadlineAfter(maxWait);
    std::uint64_t purgeAtStart;
    bool toggle;
    {
        std::lock_guard lock(p.m);
        purgeAtStart = p.purgeCount;
        toggle = p.state.fRtsControl == 3;
        if (toggle) {
            p.rtsLowerPending = false;
            p.device.SetLines(TIOCM_RTS, true);
        }
    }
    p.writePending = count;
    SerialResult result = SerialResult::Ok;
    Clock::duration backoff = std::chrono::milliseconds(1);
    int lastOutq = -1;
    char pump[1024];
    while (done < count) {
        p.ClearWriterWake(); // a wake-up after this point makes the waits below return
        bool held;
        bool dsrFlow;
        Clock::duration charTime;
        {
            std::unique_lock lock(p.m);
            bool received = false;
            p.PumpInput(pump, sizeof pump, &received);
            if (received || p.failed) {
                lock.unlock();
                p.readCv.notify_all();
                lock.lock();
            }
            if (p.failed) {
                result = p.Fail(p.failErrno);
                break;
            }
            if (p.purgeCount != purgeAtStart || p.writeAbortCount != abortMark) {
                result = SerialResult::Aborted;
                break;
            }
            held = p.held;
            dsrFlow = p.state.fOutxDsrFlow;
            charTime = LineTime(p.state, 1);
        }
        pollfd wake{p.writeWake, POLLIN, 0};
        if (held) {
            if (Clock::now() >= deadline || !PollUntil(&wake, 1, deadline)) {
                result = SerialResult::Timeout;
                break;
            }
            continue;
        }
        if (dsrFlow) {
            int lines = 0;
            if (SerialIoctl(p.Fd(), TIOCMGET, &lines) == 0 && !(lines & TIOCM_DSR)) {
                // No event tells when DSR rises: look again every few milliseconds.
                const auto until = std::min(deadline, Clock::now() + std::chrono::milliseconds(10));
                if (Clock::now() >= deadline) {
                    result = SerialResult::Timeout;
                    break;
                }
                PollUntil(&wake, 1, until);
                continue;
            }
        }
        std::size_t limit = std::min<std::size_t>(count - done, 1 << 16);
        if (!p.device.IsPty()) {
            int outq = 0;
            if (SerialIoctl(p.Fd(), TIOCOUTQ, &outq) == 0) {
                const std::size_t rest = count - done;
                if (outq > kOutQueueLow && static_cast<std::size_t>(outq) + rest > kOutQueueLimit) {
                    // Sleep about as long as the line needs to send the excess; when the
                    // queue does not move (CTS low), back off so a stopped line costs nothing.
                    if (outq >= lastOutq && lastOutq >= 0)
                        backoff =
                            std::min<Clock::duration>(backoff * 2, std::chrono::milliseconds(50));
                    else
                        backoff = std::chrono::milliseconds(1);
                    lastOutq = outq;
                    const auto need = charTime * (outq - kOutQueueLow);
                    const auto now = Clock::now();
                    if (now >= deadline) {
                        result = SerialResult::Timeout;
                        break;
                    }
                    PollUntil(&wake, 1, std::min(deadline, now + std::max(need, backoff)));
                    continue;
                }
                lastOutq = -1;
                limit =
                    std::min<std::size_t>(limit, kOutQueueLimit - std::min(outq, kOutQueueLimit));
                if (limit == 0)
                    limit = 1;
            }
        }
        const ssize_t n = ::write(p.Fd(), data + done, limit);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            p.writePending = count - done;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
            // The kernel is full (or stopped by our XOFF handling): wait for room, a hold
            // change or a purge.
            pollfd fds[2] = {{p.writeWake, POLLIN, 0}, {p.Fd(), POLLOUT, 0}};
            if (Clock::now() >= deadline || !PollUntil(fds, 2, deadline)) {
                result = SerialResult::Timeout;
                break;
            }
            if (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) {
                // The device is gone; the next round finds the failure (no retrying here).
                std::lock_guard lock(p.m);
                bool received = false;
                if (p.PumpInput(pump, sizeof pump, &received) == 0) {
                    p.failed = true;
                    p.failErrno = EIO;
                }
            }
            continue;
        }
        result = p.Fail(errno);
        break;
    }
    p.writePending = 0;
    // The end of a write: in toggle mode the I/O thread lowers RTS once the line is empty.
    if (toggle) {
        std::lock_guard lock(p.m);
        if (p.state.fRtsControl == 3 && !p.device.IsPty()) {
            p.rtsLowerPending = true;
            p.rtsLowerAt = Clock::now();
            p.WakeIo();
        }
    }
    if (written)
        *written = done;
    return result;
}
