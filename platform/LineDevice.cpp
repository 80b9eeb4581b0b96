#include "platform/LineDevice.h"

#include "platform/Exception.h"
#include "platform/PseudoTerminal.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The stop signals write one byte here; every wait polls its read end, which stays readable
// from then on, so all waits of the process end and none misses the request.
int g_signalPipe[2] = {-1, -1};
std::atomic<bool> g_stopSignalled{false};

void OnStopSignal(int)
{
    g_stopSignalled.store(true);
    if (g_signalPipe[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    }
}

int RemainingMs(LineDevice::Clock::time_point deadline)
{
    const auto left = deadline - LineDevice::Clock::now();
    if (left <= LineDevice::Clock::duration::zero())
        return 0;
    // Round up, so a wait never ends before its deadline and the caller does not spin.
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > 1000000 ? 1000000 : static_cast<int>(ms);
}

std::string SystemError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

speed_t SpeedCode(unsigned baud)
{
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    case 460800:
        return B460800;
    case 921600:
        return B921600;
    default:
        return B0;
    }
}

void SetNonBlockingCloexec(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

} // namespace

std::unique_ptr<LineDevice> LineDevice::CreatePty(const std::string& link)
{
    return std::unique_ptr<LineDevice>(new LineDevice(Kind::Pty, link, 0, false));
}

std::unique_ptr<LineDevice> LineDevice::OpenDevice(const std::string& path, unsigned baud)
{
    return std::unique_ptr<LineDevice>(new LineDevice(Kind::Device, path, baud, false));
}

std::unique_ptr<LineDevice> LineDevice::OpenClient(const std::string& path, bool ixon)
{
    return std::unique_ptr<LineDevice>(new LineDevice(Kind::Client, path, 0, ixon));
}

LineDevice::LineDevice(Kind kind, std::string path, unsigned baud, bool ixon)
    : kind_(kind), baud_(baud), ixon_(ixon)
{
    if (kind == Kind::Pty)
        link_ = std::move(path);
    else
        devicePath_ = std::move(path);
    if (kind == Kind::Device && baud != 0 && SpeedCode(baud) == B0)
        throw Exception("Unsupported line speed: " + std::to_string(baud));
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0)
        throw Exception(SystemError("pipe"));
    wakeRead_ = fds[0];
    wakeWrite_ = fds[1];
    try {
        Open();
    } catch (...) {
        ::close(wakeRead_);
        ::close(wakeWrite_);
        throw;
    }
}

LineDevice::~LineDevice()
{
    Drop();
    if (kind_ == Kind::Pty && !link_.empty())
        ::unlink(link_.c_str());
    ::close(wakeRead_);
    ::close(wakeWrite_);
}

void LineDevice::Open()
{
    if (kind_ == Kind::Pty) {
        pty_ = std::make_unique<PseudoTerminal>();
        devicePath_ = pty_->SlavePath();
        std::string error;
        if (!PublishSymlink(link_, devicePath_, &error)) {
            pty_.reset();
            throw Exception("Cannot publish the line: " + error);
        }
        fd_ = pty_->MasterFd();
        return;
    }
    const int fd = ::open(devicePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw Exception(SystemError(devicePath_));
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        const std::string error = SystemError(devicePath_);
        ::close(fd);
        throw Exception(error);
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS);
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (ixon_)
        tio.c_iflag |= IXON;
    // The flow-control characters must be set explicitly: a pty made from a zeroed termios
    // has 0 in both, and then a received XOFF would not stop anything.
    tio.c_cc[VSTART] = 0x11;
    tio.c_cc[VSTOP] = 0x13;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (baud_ != 0)
        ::cfsetspeed(&tio, SpeedCode(baud_));
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        const std::string error = SystemError(devicePath_);
        ::close(fd);
        throw Exception(error);
    }
    SetNonBlockingCloexec(fd);
    fd_ = fd;
}

void LineDevice::Drop()
{
    if (pty_) {
        // Closing the master hangs up the slave for whoever holds it.
        pty_.reset();
    } else if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = -1;
}

void LineDevice::Reconnect()
{
    Drop();
    Open();
}

int LineDevice::Wait(short events, Clock::time_point deadline)
{
    for (;;) {
        if (interrupted_.load() || g_stopSignalled.load())
            return -1;
        pollfd p[3] = {{wakeRead_, POLLIN, 0}, {g_signalPipe[0], POLLIN, 0}, {fd_, events, 0}};
        const nfds_t count = fd_ >= 0 ? 3 : 2;
        const int r = ::poll(p, count, RemainingMs(deadline));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            lastError_ = SystemError("poll");
            return -1;
        }
        if (p[0].revents != 0 || p[1].revents != 0)
            return -1;
        if (r > 0 && count == 3 && p[2].revents != 0)
            return 1;
        if (Clock::now() >= deadline)
            return 0;
    }
}

LineDevice::ReadStatus LineDevice::Read(char* buf, std::size_t max, std::size_t* count,
                                        Clock::time_point deadline)
{
    *count = 0;
    for (;;) {
        if (interrupted_.load() || g_stopSignalled.load())
            return ReadStatus::Interrupted;
        if (fd_ < 0) {
            lastError_ = "line not open";
            return ReadStatus::Dropped;
        }
        const ssize_t n = ::read(fd_, buf, max);
        if (n > 0) {
            *count = static_cast<std::size_t>(n);
            return ReadStatus::Data;
        }
        if (n == 0) {
            lastError_ = "hang-up";
            return ReadStatus::Dropped;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN) {
            lastError_ = SystemError("read");
            return ReadStatus::Dropped;
        }
        const int w = Wait(POLLIN, deadline);
        if (w < 0)
            return ReadStatus::Interrupted;
        if (w == 0)
            return ReadStatus::Timeout;
    }
}

LineDevice::ReadStatus LineDevice::ReadNow(char* buf, std::size_t max, std::size_t* count)
{
    return Read(buf, max, count, Clock::now());
}

std::size_t LineDevice::Write(std::string_view bytes, Clock::time_point deadline)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        if (fd_ < 0)
            break;
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            lastError_ = SystemError("write");
            break;
        }
        if (Wait(POLLOUT, deadline) <= 0)
            break;
    }
    return done;
}

bool LineDevice::SleepUntil(Clock::time_point deadline)
{
    for (;;) {
        if (interrupted_.load() || g_stopSignalled.load())
            return false;
        pollfd p[2] = {{wakeRead_, POLLIN, 0}, {g_signalPipe[0], POLLIN, 0}};
        const int r = ::poll(p, 2, RemainingMs(deadline));
        if (r < 0 && errno != EINTR)
            return false;
        if (r > 0)
            return false;
        if (Clock::now() >= deadline)
            return true;
    }
}

void LineDevice::Interrupt()
{
    interrupted_.store(true);
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeWrite_, &byte, 1);
}

bool LineDevice::Interrupted() const
{
    return interrupted_.load() || g_stopSignalled.load();
}

void LineDevice::InstallStopSignals()
{
    if (g_signalPipe[0] < 0 && ::pipe2(g_signalPipe, O_NONBLOCK | O_CLOEXEC) != 0)
        throw Exception(SystemError("pipe"));
    struct sigaction action
    {
    };
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

bool LineDevice::StopSignalled()
{
    return g_stopSignalled.load();
}
