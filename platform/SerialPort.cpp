#include "platform/SerialPort.h"

#include "platform/PortNames.h"
#include "platform/SerialIo.h"
#include "platform/SerialWriter.h"

#include <algorithm>
#include <cerrno>
#include <new>
#include <sys/ioctl.h>

namespace {

using Clock = std::chrono::steady_clock;

} // namespace

SerialPort::SerialPort() : io_(std::make_unique<SerialIo>()) {}

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
    std::unique_ptr<SerialPort> port(new SerialPort());
    SerialIo& p = *port->io_;
    if (!p.device.Open(path, result, reason))
        return nullptr;
    auto fail = [&](int e) -> std::unique_ptr<SerialPort> {
        port.reset();
        *result = SerialResult::IoError;
        *reason = path + ": " + ErrnoText(e);
        return nullptr;
    };

    // The port starts with the character format and speed the device had, as a driver
    // reports the port's last state.
    std::uint32_t rate = 0;
    if (GetLineSpeed(p.Fd(), &rate) != 0)
        rate = 0;
    const SerialState s = DeviceLineState(p.device.OriginalCflag(), rate);
    bool applied;
    {
        std::lock_guard lock(p.m);
        applied = p.Apply(s) == SerialResult::Ok;
        p.haveCounts = SerialIoctl(p.Fd(), TIOCGICOUNT, &p.counts) == 0;
    }
    if (!applied)
        return fail(p.lastErrno);
    if (const int e = p.Start())
        return fail(e);
    return port;
}

SerialPort::~SerialPort() = default;

const std::string& SerialPort::Path() const
{
    return io_->device.Path();
}

bool SerialPort::GetState(SerialState& state)
{
    std::lock_guard lock(io_->m);
    state = io_->state;
    return true;
}

bool SerialPort::SetState(const SerialState& state)
{
    SerialIo& p = *io_;
    refusedBaud_ = 0;
    if (!ValidLineState(state)) {
        p.lastErrno = EINVAL;
        return false;
    }
    std::lock_guard lock(p.m);
    if (p.Apply(state) == SerialResult::Ok)
        return true;
    // The device is back at its previous settings; a rate it did not take is named.
    std::uint32_t kept = 0;
    if (p.lastErrno == EINVAL && GetLineSpeed(p.Fd(), &kept) == 0 &&
        !LineSpeedTaken(state.BaudRate, kept)) {
        refusedBaud_ = state.BaudRate;
        keptBaud_ = kept;
    }
    return false;
}

bool SerialPort::GetTimeouts(SerialTimeouts& timeouts)
{
    std::lock_guard lock(io_->m);
    timeouts = io_->timeouts;
    return true;
}

bool SerialPort::SetTimeouts(const SerialTimeouts& timeouts)
{
    std::lock_guard lock(io_->m);
    io_->timeouts = timeouts;
    return true;
}

bool SerialPort::SetupQueues(std::uint32_t inQueue, std::uint32_t outQueue)
{
    SerialIo& p = *io_;
    if (inQueue == 0 || outQueue == 0) {
        refusedBaud_ = 0;
        p.lastErrno = EINVAL;
        return false;
    }
    std::lock_guard lock(p.m);
    try {
        if (inQueue != p.in.Capacity() && !p.in.Resize(inQueue))
            p.errors |= CE_RXOVER;
    } catch (const std::bad_alloc&) {
        p.lastErrno = ENOMEM;
        return false;
    }
    p.outQueueSize = outQueue;
    return true;
}

void SerialPort::Purge()
{
    SerialIo& p = *io_;
    {
        std::lock_guard lock(p.m);
        ++p.purgeCount;
        p.in.Clear();
        p.device.FlushInput();
        // The hold stays: only the peer's XON (or switching fOutX off, or closing) ends it,
        // and what waits for it is exactly what the peer asked not to be sent yet.
        p.MaybeSendXon();
    }
    p.readCv.notify_all();
    p.WakeWriter();
}

SerialResult SerialPort::Read(char* buffer, std::size_t size, std::size_t* received)
{
    SerialIo& p = *io_;
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
        std::lock_guard lock(io_->m);
        io_->wakeRead = true;
    }
    io_->readCv.notify_all();
}

SerialResult SerialPort::Write(const char* data, std::size_t count, std::size_t* written,
                               std::chrono::milliseconds maxWait)
{
    return WriteBytes(*io_, data, count, written, maxWait, io_->writeAbortCount);
}

SerialResult SerialPort::Write(const char* data, std::size_t count, std::size_t* written,
                               std::chrono::milliseconds maxWait, std::uint64_t abortMark)
{
    return WriteBytes(*io_, data, count, written, maxWait, abortMark);
}

std::uint64_t SerialPort::WriteAbortMark() const
{
    return io_->writeAbortCount;
}

bool SerialPort::OutputHeld() const
{
    std::lock_guard lock(io_->m);
    return io_->held;
}

bool SerialPort::ReleaseOutputHold()
{
    SerialIo& p = *io_;
    std::lock_guard lock(p.m);
    if (!p.ReleaseHold())
        return false;
    p.WakeWriter();
    return true;
}

void SerialPort::SetHoldObserver(std::function<void(bool held)> observer)
{
    std::lock_guard lock(io_->m);
    io_->holdObserver = std::move(observer);
}

void SerialPort::AbortWrite()
{
    ++io_->writeAbortCount;
    io_->WakeWriter();
}

std::uint32_t SerialPort::OutputQueued() const
{
    SerialIo& p = *io_;
    std::lock_guard lock(p.m);
    int outq = 0;
    if (SerialIoctl(p.Fd(), TIOCOUTQ, &outq) != 0)
        outq = 0;
    return static_cast<std::uint32_t>(outq) + static_cast<std::uint32_t>(p.writePending);
}

bool SerialPort::EscapeFunction(int function)
{
    SerialIo& p = *io_;
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
        refusedBaud_ = 0;
        p.lastErrno = EINVAL;
        return false;
    }
    if (const int e = SerialIoctl(p.Fd(), request, &bits)) {
        p.lastErrno = e;
        return false;
    }
    return true;
}

bool SerialPort::GetModemStatus(std::uint32_t* status)
{
    SerialIo& p = *io_;
    int lines = 0;
    if (const int e = SerialIoctl(p.Fd(), TIOCMGET, &lines)) {
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
    SerialIo& p = *io_;
    std::lock_guard lock(p.m);
    std::uint32_t e = p.errors;
    p.errors = 0;
    if (p.haveCounts) {
        serial_icounter_struct now{};
        if (SerialIoctl(p.Fd(), TIOCGICOUNT, &now) == 0) {
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
        if (!p.device.IsPty() && (CtsFlow(p.state) || p.state.fOutxDsrFlow)) {
            int lines = 0;
            if (SerialIoctl(p.Fd(), TIOCMGET, &lines) == 0) {
                if (CtsFlow(p.state) && !(lines & TIOCM_CTS))
                    s.Flags |= fCtsHold;
                if (p.state.fOutxDsrFlow && !(lines & TIOCM_DSR))
                    s.Flags |= fDsrHold;
            }
        }
        s.cbInQue = static_cast<std::uint32_t>(p.in.Size());
        int outq = 0;
        if (SerialIoctl(p.Fd(), TIOCOUTQ, &outq) != 0)
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
    return io_->lastErrno;
}

std::string SerialPort::LastErrorText() const
{
    const int e = io_->lastErrno;
    if (e == EINVAL && refusedBaud_ != 0)
        return "the device does not take " + std::to_string(refusedBaud_) + " bit/s (it stays at " +
               std::to_string(keptBaud_) + " bit/s)";
    return e == 0 ? std::string() : ErrnoText(e);
}
