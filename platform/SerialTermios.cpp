#include "platform/SerialTermios.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>

namespace {

int Ioctl(int fd, unsigned long request, termios2* t)
{
    int r;
    do
        r = ::ioctl(fd, request, t);
    while (r < 0 && errno == EINTR);
    return r < 0 ? errno : 0;
}

} // namespace

int ApplyLineSettings(int fd, const LineSettings& s)
{
    if (s.baud == 0)
        return EINVAL;
    termios2 t{};
    if (const int e = Ioctl(fd, TCGETS2, &t))
        return e;
    t.c_cflag &= ~s.cflagClear;
    t.c_cflag |= s.cflagSet;
    t.c_iflag &= ~s.iflagClear;
    t.c_cc[VSTART] = s.startChar;
    t.c_cc[VSTOP] = s.stopChar;
    // The CIBAUD bits cleared make the input speed follow the output speed.
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= s.speedCode != 0 ? s.speedCode : BOTHER;
    t.c_ispeed = s.baud;
    t.c_ospeed = s.baud;
    if (const int e = Ioctl(fd, TCSETS2, &t))
        return e;
    termios2 check{};
    if (const int e = Ioctl(fd, TCGETS2, &check))
        return e;
    // A driver that cannot come near the rate reports another one; a rate it dropped to
    // 0 (hang-up) means it refused.
    return check.c_ospeed == 0 ? EINVAL : 0;
}

int GetLineSpeed(int fd, std::uint32_t* baud)
{
    termios2 t{};
    if (const int e = Ioctl(fd, TCGETS2, &t))
        return e;
    *baud = t.c_ospeed;
    return 0;
}

static_assert(sizeof(termios2) <= sizeof(SavedTermios::bytes));

int SaveTermios(int fd, SavedTermios* saved)
{
    return Ioctl(fd, TCGETS2, reinterpret_cast<termios2*>(saved->bytes));
}

int RestoreTermios(int fd, const SavedTermios& saved)
{
    termios2 t;
    __builtin_memcpy(&t, saved.bytes, sizeof t);
    return Ioctl(fd, TCSETS2, &t);
}
