#include "platform/SerialPort.h"

#include "platform/PollWait.h"
#include "platform/PortNames.h"
#include "platform/SerialInputQueue.h"
#include "platform/SerialLineSettings.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <system_error>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The writer hands bytes over only while the kernel's transmit queue holds at most this
// many: adapters that ignore a stop request still send what the kernel holds after an XOFF.
constexpr int kOutQueueLimit = 128;
// ... and waits for the queue to fall to this level before topping it up again, so that
// the line never runs dry while writes stay few.
constexpr int kOutQueueLow = 64;
constexpr std::uint32_t kDefaultInQueue = 4096;
// Unix98 pseudo-terminal slaves (see the kernel's Documentation/admin-guide/devices.txt).
constexpr unsigned kPtySlaveMajorFirst = 136;
constexpr unsigned kPtySlaveMajorLast = 143;

std::string ErrnoText(int e)
{
    char buf[256];
    return ::strerror_r(e, buf, sizeof buf); // the GNU variant returns the text
}

// ioctl with EINTR retried; 0 or the errno.
int Ioctl(int fd, unsigned long request, void* arg)
{
    int r;
    do
        r = ::ioctl(fd, request, arg);
    while (r < 0 && errno == EINTR);
    return r < 0 ? errno : 0;
}

// tcflow reports through its return value; errno may hold an older value on success.
int Flow(int fd, int action)
{
    int r;
    do
        r = ::tcflow(fd, action);
    while (r < 0 && errno == EINTR);
    return r < 0 ? errno : 0;
}

int SetAttr(int fd, const termios& t)
{
    int r;
    do
        r = ::tcsetattr(fd, TCSANOW, &t);
    while (r < 0 && errno == EINTR);
    return r < 0 ? errno : 0;
}

void Signal(int eventFd)
{
    const std::uint64_t one = 1;
    while (::write(eventFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void Drain(int eventFd)
{
    std::uint64_t value;
    while (::read(eventFd, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

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

struct SerialPort::Impl
{
    std::string path;
    int fd = -1;
    int ioWake = -1;    // eventfd: stop request or a new RTS deadline for the I/O thread
    int writeWake = -1; // eventfd: a waiting Write has something to look at
    termios original{};
    SavedTermios saved{};
    bool haveOriginal = false;
    bool locked = false;
    bool isPty = false; // no visible transmit queue and no modem lines
    std::thread io;

    std::atomic<int> lastErrno{0};
    std::atomic<std::size_t> writePending{0};

    mutable std::mutex m;
    std::condition_variable readCv;
    // Guarded by m:
    SerialState state;
    SerialTimeouts timeouts;
    std::uint32_t outQueueSize = kDefaultInQueue;
    SerialInputQueue in{kDefaultInQueue};
    bool held = false;     // the peer's XOFF holds output
    bool xoffSent = false; // our XOFF holds the peer (fInX)
    bool wakeRead = false;
    std::uint64_t purgeCount = 0;
    bool failed = false;
    int failErrno = 0;
    bool stop = false;
    std::uint32_t errors = 0;
    serial_icounter_struct counts{};
    bool haveCounts = false;
    bool rtsLowerPending = false;
    Clock::time_point rtsLowerAt{};

    SerialResult Fail(int e)
    {
        lastErrno = e;
        return SerialResult::IoError;
    }

    void SetLines(int bits, bool on)
    {
        if (!isPty)
            Ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits);
    }

    Clock::duration LineTime(std::size_t bytes) const { return ::LineTime(state, bytes); }

    // Under m: handles the peer's flow control bytes and queues the rest.
    void Receive(char* bytes, std::size_t count, Clock::time_point time)
    {
        bool released = false;
        std::size_t kept = count;
        if (state.fOutX) {
            kept = 0;
            for (std::size_t i = 0; i < count; ++i) {
                const char c = bytes[i];
                if (c == state.XoffChar) {
                    // Stop the kernel's output at once: what the writer already handed over
                    // must not go out either.
                    if (!held) {
                        held = true;
                        Flow(fd, TCOOFF);
                    }
                } else if (c == state.XonChar) {
                    if (held) {
                        held = false;
                        Flow(fd, TCOON);
                        released = true;
                    }
                } else {
                    bytes[kept++] = c;
                }
            }
        }
        if (kept > 0) {
            if (in.Push(bytes, kept, time) < kept)
                errors |= CE_RXOVER;
            if (state.fInX && !xoffSent && in.Free() <= state.XoffLim) {
                if (Flow(fd, TCIOFF) == 0)
                    xoffSent = true;
            }
        }
        if (released)
            Signal(writeWake);
    }

    // Under m: the input queue drained, so a hold we put on the peer can end.
    void MaybeSendXon()
    {
        if (xoffSent && in.Size() <= state.XonLim) {
            Flow(fd, TCION);
            xoffSent = false;
        }
    }

    // Under m: lowers RTS in toggle mode once the transmitter is empty; returns the next
    // time to look again, or max.
    Clock::time_point ServiceRtsToggle(Clock::time_point now)
    {
        if (!rtsLowerPending)
            return Clock::time_point::max();
        if (now < rtsLowerAt)
            return rtsLowerAt;
        int outq = 0;
        if (Ioctl(fd, TIOCOUTQ, &outq) == 0 && outq > 0) {
            rtsLowerAt =
                now + std::max<Clock::duration>(LineTime(outq + 1), std::chrono::milliseconds(1));
            return rtsLowerAt;
        }
        unsigned lsr = 0;
        if (Ioctl(fd, TIOCSERGETLSR, &lsr) == 0 && !(lsr & TIOCSER_TEMT)) {
            rtsLowerAt = now + std::max<Clock::duration>(LineTime(1), std::chrono::milliseconds(1));
            return rtsLowerAt;
        }
        SetLines(TIOCM_RTS, false);
        rtsLowerPending = false;
        return Clock::time_point::max();
    }

    // Under m: takes in whatever the device has now, without waiting. Both the I/O thread
    // and Write call it (Write just before it hands bytes over, so an XOFF that has reached
    // the device is seen even while the I/O thread waits for a processor). Returns 0, or
    // the errno of a failed or vanished device, which is then marked failed; the caller
    // notifies readCv and writeWake.
    int PumpInput(char* buf, std::size_t size, bool* received)
    {
        if (failed)
            return failErrno;
        for (;;) {
            const ssize_t n = ::read(fd, buf, size);
            if (n > 0) {
                Receive(buf, static_cast<std::size_t>(n), Clock::now());
                *received = true;
                if (static_cast<std::size_t>(n) < size)
                    return 0;
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return 0;
            failed = true;
            failErrno = n == 0 ? EIO : errno; // 0: the line hung up
            return failErrno;
        }
    }

    void IoLoop()
    {
        std::vector<char> buf(4096);
        bool reading = true;
        for (;;) {
            Clock::time_point next;
            {
                std::lock_guard lock(m);
                if (stop)
                    return;
                next = ServiceRtsToggle(Clock::now());
            }
            pollfd fds[2] = {{ioWake, POLLIN, 0}, {fd, POLLIN, 0}};
            if (!PollUntil(fds, reading ? 2 : 1, next))
                continue;
            if (fds[0].revents & POLLIN)
                Drain(ioWake);
            if (!reading || fds[1].revents == 0)
                continue;
            bool received = false;
            int failure;
            {
                std::lock_guard lock(m);
                failure = PumpInput(buf.data(), buf.size(), &received);
                if (!failure && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))) {
                    failed = true;
                    failure = failErrno = EIO;
                }
            }
            if (received || failure)
                readCv.notify_all();
            if (failure) {
                // The device is gone: stop watching it (it would report the hang-up for
                // ever) and wait only for the stop request.
                reading = false;
                Signal(writeWake);
            }
        }
    }

    // Applies the settings to the device; under m (the I/O thread reads the state).
    SerialResult Apply(const SerialState& s)
    {
        if (const int e = ApplyLineState(fd, s))
            return Fail(e);
        const bool releaseHold = held && !s.fOutX;
        state = s;
        if (releaseHold) {
            held = false;
            Flow(fd, TCOON);
            Signal(writeWake);
        }
        if (!s.fInX && xoffSent) {
            Flow(fd, TCION);
            xoffSent = false;
        }
        SetLines(TIOCM_DTR, s.fDtrControl != 0);
        if (s.fRtsControl != 2)
            SetLines(TIOCM_RTS, s.fRtsControl == 1 || (s.fRtsControl == 3 && writePending > 0));
        return SerialResult::Ok;
    }
};

SerialPort::SerialPort() : impl_(std::make_unique<Impl>()) {}

std::unique_ptr<SerialPort> SerialPort::Open(const std::string& name, SerialResult* result,
                                             std::string* reason)
{
    SerialResult dummyResult;
    std::string dummyReason;
    if (!result)
        result = &dummyResult;
    if (!reason)
        reason = &dummyReason;
    *result = SerialResult::Ok;
    reason->clear();

    const std::string path = ResolvePortName(name);
    if (path.empty()) {
        *result = SerialResult::NotFound;
        *reason = (name.empty() ? std::string("(empty name)") : name) + ": No such port";
        return nullptr;
    }
    auto fail = [&](SerialResult r, int e) -> std::unique_ptr<SerialPort> {
        *result = r;
        *reason = path + ": " + ErrnoText(e);
        return nullptr;
    };

    int fd;
    do
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int e = errno;
        switch (e) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR:
            return fail(SerialResult::NotFound, e);
        case EACCES:
        case EPERM:
        case EROFS:
            return fail(SerialResult::AccessDenied, e);
        case EBUSY:
            return fail(SerialResult::Busy, e);
        default:
            return fail(SerialResult::IoError, e);
        }
    }
    std::unique_ptr<SerialPort> port(new SerialPort());
    Impl& p = *port->impl_;
    p.path = path;
    p.fd = fd;
    if (!::isatty(fd)) {
        // The destructor must not touch a file that is not ours to restore.
        ::close(fd);
        p.fd = -1;
        *result = SerialResult::NotFound;
        *reason = path + ": Not a serial device";
        return nullptr;
    }
    // The advisory lock holds against every cooperating opener, root included, which
    // TIOCEXCL does not.
    int r;
    do
        r = ::flock(fd, LOCK_EX | LOCK_NB);
    while (r < 0 && errno == EINTR);
    if (r < 0) {
        const int e = errno;
        ::close(fd);
        p.fd = -1;
        if (e == EWOULDBLOCK)
            return fail(SerialResult::Busy, EBUSY);
        return fail(SerialResult::IoError, e);
    }
    p.locked = true;
    Ioctl(fd, TIOCEXCL, nullptr);
    if (::tcgetattr(fd, &p.original) != 0) {
        const int e = errno;
        port.reset();
        return fail(SerialResult::IoError, e);
    }
    if (const int e = SaveTermios(fd, &p.saved)) {
        port.reset();
        return fail(SerialResult::IoError, e);
    }
    p.haveOriginal = true;

    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode)) {
        const unsigned maj = major(st.st_rdev);
        p.isPty = maj >= kPtySlaveMajorFirst && maj <= kPtySlaveMajorLast;
    }
    int lines = 0;
    if (Ioctl(fd, TIOCMGET, &lines) == ENOTTY)
        p.isPty = true; // no modem lines: a virtual terminal without a transmit queue

    // Raw mode; the character format and speed are those the device had, as a driver
    // reports the port's last state.
    termios raw = p.original;
    ::cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    raw.c_cc[VMIN] = 1; // with O_NONBLOCK: EAGAIN when empty, so 0 means hang-up
    raw.c_cc[VTIME] = 0;
    if (const int e = SetAttr(fd, raw)) {
        port.reset();
        return fail(SerialResult::IoError, e);
    }
    std::uint32_t rate = 0;
    if (GetLineSpeed(fd, &rate) != 0)
        rate = 0;
    const SerialState s = DeviceLineState(p.original.c_cflag, rate);
    bool applied;
    {
        std::lock_guard lock(p.m);
        applied = p.Apply(s) == SerialResult::Ok;
        p.haveCounts = Ioctl(fd, TIOCGICOUNT, &p.counts) == 0;
    }
    if (!applied) {
        const int e = p.lastErrno;
        port.reset();
        return fail(SerialResult::IoError, e);
    }

    p.ioWake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    p.writeWake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (p.ioWake < 0 || p.writeWake < 0) {
        const int e = errno;
        port.reset();
        return fail(SerialResult::IoError, e);
    }
    try {
        p.io = std::thread([&p] { p.IoLoop(); });
    } catch (const std::system_error& e) {
        port.reset();
        return fail(SerialResult::IoError, e.code().value());
    }
    return port;
}

SerialPort::~SerialPort()
{
    Impl& p = *impl_;
    if (p.io.joinable()) {
        {
            std::lock_guard lock(p.m);
            p.stop = true;
        }
        Signal(p.ioWake);
        p.io.join();
    }
    if (p.fd >= 0) {
        // Let output go on (a held line would otherwise keep its bytes for ever), release
        // the peer from our XOFF, and leave the device as we found it.
        Flow(p.fd, TCOON);
        if (p.xoffSent)
            Flow(p.fd, TCION);
        if (p.haveOriginal)
            RestoreTermios(p.fd, p.saved);
        Ioctl(p.fd, TIOCNXCL, nullptr);
        if (p.locked)
            ::flock(p.fd, LOCK_UN);
        ::close(p.fd);
    }
    if (p.ioWake >= 0)
        ::close(p.ioWake);
    if (p.writeWake >= 0)
        ::close(p.writeWake);
}

const std::string& SerialPort::Path() const
{
    return impl_->path;
}

bool SerialPort::GetState(SerialState& state)
{
    std::lock_guard lock(impl_->m);
    state = impl_->state;
    return true;
}

bool SerialPort::SetState(const SerialState& state)
{
    Impl& p = *impl_;
    if (!ValidLineState(state)) {
        p.lastErrno = EINVAL;
        return false;
    }
    std::lock_guard lock(p.m);
    return p.Apply(state) == SerialResult::Ok;
}

bool SerialPort::GetTimeouts(SerialTimeouts& timeouts)
{
    std::lock_guard lock(impl_->m);
    timeouts = impl_->timeouts;
    return true;
}

bool SerialPort::SetTimeouts(const SerialTimeouts& timeouts)
{
    std::lock_guard lock(impl_->m);
    impl_->timeouts = timeouts;
    return true;
}

bool SerialPort::SetupQueues(std::uint32_t inQueue, std::uint32_t outQueue)
{
    Impl& p = *impl_;
    if (inQueue == 0 || outQueue == 0) {
        p.lastErrno = EINVAL;
        return false;
    }
    std::lock_guard lock(p.m);
    if (inQueue != p.in.Capacity() && !p.in.Resize(inQueue))
        p.errors |= CE_RXOVER;
    p.outQueueSize = outQueue;
    return true;
}

void SerialPort::Purge()
{
    Impl& p = *impl_;
    {
        std::lock_guard lock(p.m);
        ++p.purgeCount;
        p.in.Clear();
        // A pty shows no transmit queue: what the slave wrote already waits at the far end,
        // like bytes on a wire, and flushing "output" there would discard the peer's unread
        // input instead (up to ~20 KiB of a firmware file's tail). So a pty flushes input only.
        const int queues = p.isPty ? TCIFLUSH : TCIOFLUSH;
        int r;
        do
            r = ::tcflush(p.fd, queues);
        while (r < 0 && errno == EINTR);
        if (p.held) {
            p.held = false;
            Flow(p.fd, TCOON);
        }
        p.MaybeSendXon();
    }
    p.readCv.notify_all();
    Signal(p.writeWake);
}

SerialResult SerialPort::Read(char* buffer, std::size_t size, std::size_t* received)
{
    Impl& p = *impl_;
    std::size_t got = 0;
    if (received)
        *received = 0;
    std::unique_lock lock(p.m);
    const auto start = Clock::now();
    const std::uint64_t purgeAtStart = p.purgeCount;
    const SerialTimeouts t = p.timeouts;
    const auto interval = std::chrono::milliseconds(t.ReadIntervalTimeout);
    Clock::time_point total = Clock::time_point::max();
    if (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0) {
        // Beyond a year counts as no limit (and cannot overflow the clock).
        constexpr std::uint64_t kYearMs = 365ull * 24 * 3600 * 1000;
        const std::uint64_t perByte = t.ReadTotalTimeoutMultiplier;
        const std::uint64_t ms = (perByte != 0 && size > kYearMs / perByte)
                                     ? kYearMs + 1
                                     : perByte * size + t.ReadTotalTimeoutConstant;
        if (ms <= kYearMs)
            total = start + std::chrono::milliseconds(ms);
    }
    Clock::time_point last{};
    SerialResult result = SerialResult::Ok;
    for (;;) {
        if (p.purgeCount != purgeAtStart) {
            result = SerialResult::Aborted;
            break;
        }
        const bool pause = p.in.TakePacket(buffer, size, &got, interval, &last);
        p.MaybeSendXon();
        if (pause || got == size)
            break;
        if (p.wakeRead) {
            p.wakeRead = false;
            break;
        }
        if (p.failed) {
            // Deliver what came before the failure; the next read reports it.
            if (got == 0)
                result = p.Fail(p.failErrno);
            break;
        }
        auto deadline = total;
        if (got > 0 && interval.count() > 0)
            deadline = std::min(deadline, last + interval + std::chrono::microseconds(1));
        if (Clock::now() >= deadline)
            break;
        if (deadline == Clock::time_point::max())
            p.readCv.wait(lock);
        else
            p.readCv.wait_until(lock, deadline);
    }
    if (received)
        *received = got;
    return result;
}

void SerialPort::WakeRead()
{
    {
        std::lock_guard lock(impl_->m);
        impl_->wakeRead = true;
    }
    impl_->readCv.notify_all();
}

SerialResult SerialPort::Write(const char* data, std::size_t count, std::size_t* written,
                               std::chrono::milliseconds maxWait)
{
    Impl& p = *impl_;
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
            p.SetLines(TIOCM_RTS, true);
        }
    }
    p.writePending = count;
    SerialResult result = SerialResult::Ok;
    Clock::duration backoff = std::chrono::milliseconds(1);
    int lastOutq = -1;
    char pump[1024];
    while (done < count) {
        Drain(p.writeWake); // a signal after this point makes the waits below return
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
            if (p.purgeCount != purgeAtStart) {
                result = SerialResult::Aborted;
                break;
            }
            held = p.held;
            dsrFlow = p.state.fOutxDsrFlow;
            charTime = p.LineTime(1);
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
            if (Ioctl(p.fd, TIOCMGET, &lines) == 0 && !(lines & TIOCM_DSR)) {
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
        if (!p.isPty) {
            int outq = 0;
            if (Ioctl(p.fd, TIOCOUTQ, &outq) == 0) {
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
        const ssize_t n = ::write(p.fd, data + done, limit);
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
            pollfd fds[2] = {{p.writeWake, POLLIN, 0}, {p.fd, POLLOUT, 0}};
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
    if (toggle) {
        std::lock_guard lock(p.m);
        if (p.state.fRtsControl == 3 && !p.isPty) {
            p.rtsLowerPending = true;
            p.rtsLowerAt = Clock::now();
            Signal(p.ioWake);
        }
    }
    if (written)
        *written = done;
    return result;
}

bool SerialPort::OutputHeld() const
{
    std::lock_guard lock(impl_->m);
    return impl_->held;
}

bool SerialPort::EscapeFunction(int function)
{
    Impl& p = *impl_;
    int bits;
    unsigned long request;
    switch (function) {
    case SETRTS:
        bits = TIOCM_RTS;
        request = TIOCMBIS;
        break;
    case CLRRTS:
        bits = TIOCM_RTS;
        request = TIOCMBIC;
        break;
    case SETDTR:
        bits = TIOCM_DTR;
        request = TIOCMBIS;
        break;
    case CLRDTR:
        bits = TIOCM_DTR;
        request = TIOCMBIC;
        break;
    default:
        p.lastErrno = EINVAL;
        return false;
    }
    if (const int e = Ioctl(p.fd, request, &bits)) {
        p.lastErrno = e;
        return false;
    }
    return true;
}

bool SerialPort::GetModemStatus(std::uint32_t* status)
{
    Impl& p = *impl_;
    int lines = 0;
    if (const int e = Ioctl(p.fd, TIOCMGET, &lines)) {
        p.lastErrno = e;
        return false;
    }
    std::uint32_t s = 0;
    if (lines & TIOCM_CTS)
        s |= MS_CTS_ON;
    if (lines & TIOCM_DSR)
        s |= MS_DSR_ON;
    if (lines & TIOCM_RNG)
        s |= MS_RING_ON;
    if (lines & TIOCM_CAR)
        s |= MS_RLSD_ON;
    if (status)
        *status = s;
    return true;
}

bool SerialPort::ClearError(std::uint32_t* errors, SerialStatus* status)
{
    Impl& p = *impl_;
    std::lock_guard lock(p.m);
    std::uint32_t e = p.errors;
    p.errors = 0;
    if (p.haveCounts) {
        serial_icounter_struct now{};
        if (Ioctl(p.fd, TIOCGICOUNT, &now) == 0) {
            if (now.overrun != p.counts.overrun || now.buf_overrun != p.counts.buf_overrun)
                e |= CE_OVERRUN;
            if (now.frame != p.counts.frame)
                e |= CE_FRAME;
            if (now.parity != p.counts.parity)
                e |= CE_RXPARITY;
            if (now.brk != p.counts.brk)
                e |= CE_BREAK;
            p.counts = now;
        }
    }
    if (errors)
        *errors = e;
    if (status) {
        SerialStatus s;
        if (p.held)
            s.Flags |= fXoffHold;
        if (p.xoffSent)
            s.Flags |= fXoffSent;
        if (!p.isPty && (CtsFlow(p.state) || p.state.fOutxDsrFlow)) {
            int lines = 0;
            if (Ioctl(p.fd, TIOCMGET, &lines) == 0) {
                if (CtsFlow(p.state) && !(lines & TIOCM_CTS))
                    s.Flags |= fCtsHold;
                if (p.state.fOutxDsrFlow && !(lines & TIOCM_DSR))
                    s.Flags |= fDsrHold;
            }
        }
        s.cbInQue = static_cast<std::uint32_t>(p.in.Size());
        int outq = 0;
        if (Ioctl(p.fd, TIOCOUTQ, &outq) != 0)
            outq = 0;
        s.cbOutQue = static_cast<std::uint32_t>(outq) + static_cast<std::uint32_t>(p.writePending);
        *status = s;
    }
    if (p.failed) {
        p.lastErrno = p.failErrno;
        return false;
    }
    return true;
}

int SerialPort::LastErrno() const
{
    return impl_->lastErrno;
}

std::string SerialPort::LastErrorText() const
{
    const int e = impl_->lastErrno;
    return e == 0 ? std::string() : ErrnoText(e);
}
