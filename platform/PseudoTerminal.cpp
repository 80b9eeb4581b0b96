#include "platform/PseudoTerminal.h"

#include "platform/Exception.h"
#include "platform/PollWait.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Waits for `events` on fd until the deadline.
bool WaitFor(int fd, short events, Clock::time_point deadline)
{
    pollfd p{fd, events, 0};
    return PollUntil(&p, 1, deadline);
}

} // namespace

PseudoTerminal::PseudoTerminal()
{
    char name[256] = {};
    termios raw{};
    ::cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    if (::openpty(&master_, &slave_, name, &raw, nullptr) != 0)
        throw Exception(std::string("openpty: ") + std::strerror(errno));
    slavePath_ = name;
    const int flags = ::fcntl(master_, F_GETFL);
    ::fcntl(master_, F_SETFL, flags | O_NONBLOCK);
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
}

PseudoTerminal::~PseudoTerminal()
{
    CloseSlave();
    CloseMaster();
}

void PseudoTerminal::CloseSlave()
{
    if (slave_ >= 0)
        ::close(slave_);
    slave_ = -1;
}

void PseudoTerminal::CloseMaster()
{
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

std::size_t PseudoTerminal::Write(std::string_view bytes, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            break;
        if (!WaitFor(master_, POLLOUT, deadline))
            break;
    }
    return done;
}

std::string PseudoTerminal::Read(std::size_t count, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    std::string out;
    char buf[4096];
    while (out.size() < count) {
        const ssize_t n = ::read(master_, buf, std::min(sizeof buf, count - out.size()));
        if (n > 0) {
            out.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            break;
        if (!WaitFor(master_, POLLIN, deadline))
            break;
    }
    return out;
}

std::string PseudoTerminal::ReadFor(std::chrono::milliseconds duration)
{
    const auto deadline = Clock::now() + duration;
    std::string out;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (Clock::now() >= deadline)
            break;
        if (n < 0 && errno != EAGAIN) {
            // No slave open (EIO): nothing can arrive; wait out the duration without spinning.
            PollUntil(nullptr, 0, deadline);
            break;
        }
        WaitFor(master_, POLLIN, deadline);
    }
    return out;
}

std::string PseudoTerminal::ReadUntil(std::string_view needle, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    std::string out;
    char buf[4096];
    while (out.find(needle) == std::string::npos) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            break;
        if (!WaitFor(master_, POLLIN, deadline))
            break;
    }
    return out;
}

bool PublishSymlink(const std::string& link, const std::string& target, std::string* error)
{
    // Create under a temporary name and rename over the old one, so the link never dangles
    // half-made and a stale link or file is replaced in one step.
    const std::string temp = link + ".tmp." + std::to_string(::getpid());
    ::unlink(temp.c_str());
    if (::symlink(target.c_str(), temp.c_str()) != 0 || ::rename(temp.c_str(), link.c_str()) != 0) {
        if (error)
            *error = link + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}
