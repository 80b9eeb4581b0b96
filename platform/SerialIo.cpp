#include "platform/SerialIo.h"

#include "platform/PollWait.h"

#include <algorithm>
#include <cerrno>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

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

} // namespace

SerialIo::~SerialIo()
{
    if (io.joinable()) {
        {
            std::lock_guard lock(m);
            stop = true;
        }
        Signal(ioWake);
        io.join();
    }
    device.Close(xoffSent);
    if (ioWake >= 0)
        ::close(ioWake);
    if (writeWake >= 0)
        ::close(writeWake);
}

int SerialIo::Start()
{
    ioWake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    writeWake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (ioWake < 0 || writeWake < 0)
        return errno;
    try {
        io = std::thread([this] { IoLoop(); });
    } catch (const std::system_error& e) {
        return e.code().value();
    }
    return 0;
}

SerialResult SerialIo::Fail(int e)
{
    lastErrno = e;
    return SerialResult::IoError;
}

void SerialIo::WakeWriter()
{
    Signal(writeWake);
}

void SerialIo::ClearWriterWake()
{
    Drain(writeWake);
}

void SerialIo::WakeIo()
{
    Signal(ioWake);
}

bool SerialIo::ReleaseHold()
{
    if (!held)
        return false;
    SetHeld(false);
    SerialFlow(Fd(), TCOON);
    return true;
}

void SerialIo::SetHeld(bool on)
{
    held = on;
    if (holdObserver)
        holdObserver(on);
}

void SerialIo::Receive(char* bytes, std::size_t count, Clock::time_point time)
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
                    SetHeld(true);
                    SerialFlow(Fd(), TCOOFF);
                }
            } else if (c == state.XonChar) {
                if (ReleaseHold())
                    released = true;
            } else {
                bytes[kept++] = c;
            }
        }
    }
    if (kept > 0) {
        if (in.Push(bytes, kept, time) < kept)
            errors |= CE_RXOVER;
        if (state.fInX && !xoffSent && in.Free() <= state.XoffLim) {
            if (SerialFlow(Fd(), TCIOFF) == 0)
                xoffSent = true;
        }
    }
    if (released)
        WakeWriter();
}

void SerialIo::MaybeSendXon()
{
    if (xoffSent && in.Size() <= state.XonLim) {
        SerialFlow(Fd(), TCION);
        xoffSent = false;
    }
}

SerialIo::Clock::time_point SerialIo::ServiceRtsToggle(Clock::time_point now)
{
    if (!rtsLowerPending)
        return Clock::time_point::max();
    if (now < rtsLowerAt)
        return rtsLowerAt;
    int outq = 0;
    if (SerialIoctl(Fd(), TIOCOUTQ, &outq) == 0 && outq > 0) {
        rtsLowerAt = now + std::max<Clock::duration>(LineTime(state, outq + 1),
                                                     std::chrono::milliseconds(1));
        return rtsLowerAt;
    }
    unsigned lsr = 0;
    if (SerialIoctl(Fd(), TIOCSERGETLSR, &lsr) == 0 && !(lsr & TIOCSER_TEMT)) {
        rtsLowerAt =
            now + std::max<Clock::duration>(LineTime(state, 1), std::chrono::milliseconds(1));
        return rtsLowerAt;
    }
    device.SetLines(TIOCM_RTS, false);
    rtsLowerPending = false;
    return Clock::time_point::max();
}

int SerialIo::PumpInput(char* buf, std::size_t size, bool* received)
{
    if (failed)
        return failErrno;
    for (;;) {
        const ssize_t n = ::read(Fd(), buf, size);
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

void SerialIo::IoLoop()
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
        pollfd fds[2] = {{ioWake, POLLIN, 0}, {Fd(), POLLIN, 0}};
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
            // The device is gone: stop watching it (it would report the hang-up for ever)
            // and wait only for the stop request.
            reading = false;
            WakeWriter();
        }
    }
}

SerialResult SerialIo::Apply(const SerialState& s)
{
    if (const int e = ApplyLineState(Fd(), s))
        return Fail(e);
    const bool releaseHold = held && !s.fOutX;
    state = s;
    if (releaseHold) {
        ReleaseHold();
        WakeWriter();
    }
    if (!s.fInX && xoffSent) {
        SerialFlow(Fd(), TCION);
        xoffSent = false;
    }
    device.SetLines(TIOCM_DTR, s.fDtrControl != 0);
    if (s.fRtsControl != 2)
        device.SetLines(TIOCM_RTS, s.fRtsControl == 1 || (s.fRtsControl == 3 && writePending > 0));
    return SerialResult::Ok;
}
