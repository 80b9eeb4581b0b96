#include "platform/SerialLineSettings.h"

#include <algorithm>
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

struct SpeedCode
{
    std::uint32_t rate;
    unsigned code;
};
constexpr SpeedCode kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

// The B constant for `rate`, or BOTHER when it has none.
unsigned SpeedCodeFor(std::uint32_t rate)
{
    for (const auto& s : kSpeeds)
        if (s.rate == rate)
            return s.code;
    return BOTHER;
}

} // namespace

bool ValidLineState(const SerialState& s)
{
    if (s.BaudRate == 0 || s.ByteSize < 5 || s.ByteSize > 8 || s.Parity > 4 || s.StopBits > 2)
        return false;
    // 1.5 stop bits exist only with 5 data bits, and 2 stop bits only with 6 to 8: a UART
    // sends 1.5 where 2 is asked for with 5 data bits.
    if (s.StopBits == 1 && s.ByteSize != 5)
        return false;
    if (s.StopBits == 2 && s.ByteSize == 5)
        return false;
    // One character cannot both stop and restart the flow.
    if ((s.fOutX || s.fInX) && s.XonChar == s.XoffChar)
        return false;
    return s.fDtrControl <= 2 && s.fRtsControl <= 3;
}

bool CtsFlow(const SerialState& s)
{
    return s.fOutxCtsFlow || s.fRtsControl == 2;
}

std::chrono::steady_clock::duration LineTime(const SerialState& s, std::size_t bytes)
{
    const double bits = 1.0 + s.ByteSize + (s.Parity ? 1 : 0) +
                        (s.StopBits == 0   ? 1.0
                         : s.StopBits == 1 ? 1.5
                                           : 2.0);
    const double seconds = bits * static_cast<double>(bytes) / s.BaudRate;
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(std::min(seconds, 3600.0)));
}

SerialState DeviceLineState(std::uint32_t cflag, std::uint32_t baud)
{
    SerialState s;
    if (baud != 0)
        s.BaudRate = baud;
    switch (cflag & CSIZE) {
    case CS5:
        s.ByteSize = 5;
        break;
    case CS6:
        s.ByteSize = 6;
        break;
    case CS7:
        s.ByteSize = 7;
        break;
    default:
        s.ByteSize = 8;
        break;
    }
    if (cflag & PARENB) {
        const bool odd = cflag & PARODD;
        s.Parity = (cflag & CMSPAR) ? (odd ? 3 : 4) : (odd ? 1 : 2);
    }
    if (cflag & CSTOPB)
        s.StopBits = s.ByteSize == 5 ? 1 : 2;
    return s;
}

void MapLineState(const SerialState& s, termios2& t)
{
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    tcflag_t set = CLOCAL | CREAD | kSizes[s.ByteSize - 5];
    switch (s.Parity) {
    case 1:
        set |= PARENB | PARODD;
        break;
    case 2:
        set |= PARENB;
        break;
    case 3:
        set |= PARENB | PARODD | CMSPAR;
        break;
    case 4:
        set |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
    // CSTOPB gives 1.5 stop bits with 5 data bits on UARTs, 2 otherwise.
    if (s.StopBits != 0)
        set |= CSTOPB;
    if (CtsFlow(s))
        set |= CRTSCTS;
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= set;
    // XON/XOFF output flow is done by the driver, not the line discipline, so that the hold
    // is visible; the characters serve TCIOFF/TCION for input flow (fInX).
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    t.c_cc[VSTART] = static_cast<cc_t>(s.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(s.XoffChar);
    // The CIBAUD bits cleared make the input speed follow the output speed.
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= SpeedCodeFor(s.BaudRate);
    t.c_ispeed = s.BaudRate;
    t.c_ospeed = s.BaudRate;
}

int ApplyLineState(int fd, const SerialState& s)
{
    if (s.BaudRate == 0)
        return EINVAL;
    termios2 before{};
    if (const int e = Ioctl(fd, TCGETS2, &before))
        return e;
    termios2 t = before;
    MapLineState(s, t);
    if (const int e = Ioctl(fd, TCSETS2, &t))
        return e;
    termios2 check{};
    if (const int e = Ioctl(fd, TCGETS2, &check))
        return e;
    // A driver that cannot make the rate does not fail the call: it keeps the old rate, or
    // 9600, and reports that one. The device goes back to what it had before.
    if (!LineSpeedTaken(s.BaudRate, check.c_ospeed)) {
        (void)Ioctl(fd, TCSETS2, &before);
        return EINVAL;
    }
    return 0;
}

bool LineSpeedTaken(std::uint32_t asked, std::uint32_t reported)
{
    if (reported == 0)
        return false; // dropped to 0: a hang-up, not a rate
    const std::uint64_t gap = asked > reported ? asked - reported : reported - asked;
    return gap * LineSpeedTolerance <= asked;
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

void SetXonXoffOutput(SerialState& state, std::uint32_t queueSize)
{
    state.XonLim = static_cast<std::uint16_t>(static_cast<std::uint64_t>(queueSize * 0.1));
    state.XoffLim = static_cast<std::uint16_t>(static_cast<std::uint64_t>(queueSize * 0.9));
    state.fOutxDsrFlow = false;
    state.fOutxCtsFlow = false;
    state.fDtrControl = 1;
    state.fRtsControl = 1;
    state.fInX = false;
    state.fOutX = true;
    state.XonChar = 0x11;
    state.XoffChar = 0x13;
}
