#include "platform/SerialDevice.h"

#include "platform/SerialPort.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Unix98 pseudo-terminal slaves (see the kernel's Documentation/admin-guide/devices.txt).
constexpr unsigned kPtySlaveMajorFirst = 136;
constexpr unsigned kPtySlaveMajorLast = 143;

int SetAttr(int fd, const termios& t)
{
    int r;
    do
        r = ::tcsetattr(fd, TCSANOW, &t);
    while (r < 0 && errno == EINTR);
    return r < 0 ? errno : 0;
}

} // namespace

int SerialIoctl(int fd, unsigned long request, void* arg)
{
    int r;
    do
        r = ::ioctl(fd, request, arg);
    while (r < 0 && errno == EINTR);
    return r < 0 ? errno : 0;
}

int SerialFlow(int fd, int action)
{
    int r;
    do
        r = ::tcflow(fd, action);
    while (r < 0 && errno == EINTR);
    return r < 0 ? errno : 0;
}

std::string ErrnoText(int e)
{
    char buf[256];
    return ::strerror_r(e, buf, sizeof buf); // the GNU variant returns the text
}

SerialDevice::~SerialDevice()
{
    Close(false);
}

bool SerialDevice::Open(const std::string& path, SerialResult* result, std::string* reason)
{
    path_ = path;
    auto fail = [&](SerialResult r, int e) {
        Close(false);
        *result = r;
        *reason = path + ": " + ErrnoText(e);
        return false;
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
    if (!::isatty(fd)) {
        // Close() must not touch a file that is not ours to restore.
        ::close(fd);
        *result = SerialResult::NotFound;
        *reason = path + ": Not a serial device";
        return false;
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
        if (e == EWOULDBLOCK)
            return fail(SerialResult::Busy, EBUSY);
        return fail(SerialResult::IoError, e);
    }
    fd_ = fd;
    locked_ = true;
    SerialIoctl(fd, TIOCEXCL, nullptr);
    termios original{};
    if (::tcgetattr(fd, &original) != 0)
        return fail(SerialResult::IoError, errno);
    if (const int e = SaveTermios(fd, &saved_))
        return fail(SerialResult::IoError, e);
    haveOriginal_ = true;
    originalCflag_ = original.c_cflag;

    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode)) {
        const unsigned maj = major(st.st_rdev);
        isPty_ = maj >= kPtySlaveMajorFirst && maj <= kPtySlaveMajorLast;
    }
    int lines = 0;
    if (SerialIoctl(fd, TIOCMGET, &lines) == ENOTTY)
        isPty_ = true; // no modem lines: a virtual terminal without a transmit queue

    // Raw mode; the character format and speed are those the device had, as a driver
    // reports the port's last state.
    termios raw = original;
    ::cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    raw.c_cc[VMIN] = 1; // with O_NONBLOCK: EAGAIN when empty, so 0 means hang-up
    raw.c_cc[VTIME] = 0;
    if (const int e = SetAttr(fd, raw))
        return fail(SerialResult::IoError, e);
    return true;
}

void SerialDevice::Close(bool releasePeer)
{
    if (fd_ < 0)
        return;
    SerialFlow(fd_, TCOON);
    if (releasePeer)
        SerialFlow(fd_, TCION);
    if (haveOriginal_)
        RestoreTermios(fd_, saved_);
    SerialIoctl(fd_, TIOCNXCL, nullptr);
    if (locked_)
        ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
    haveOriginal_ = false;
    locked_ = false;
}

void SerialDevice::FlushInput()
{
    // Never TCOFLUSH: on a UART or USB adapter it throws away up to the 128 bytes the writer
    // keeps queued (a firmware file's last lines when the unit's first result purges the
    // port); on a pty it would discard the peer's unread input instead.
    int r;
    do
        r = ::tcflush(fd_, TCIFLUSH);
    while (r < 0 && errno == EINTR);
}

void SerialDevice::SetLines(int bits, bool on)
{
    if (!isPty_)
        SerialIoctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bits);
}
