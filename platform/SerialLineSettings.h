// The serial line's settings (the SerialState record): which records the driver accepts,
// the line time of a character, and how a record reaches a Linux tty (a pure mapping to the
// kernel's termios2, applied in one call), with the saving and restoring of a device's whole
// termios2. Kept apart from the files that include <termios.h>, which cannot be included
// together with <asm/termbits.h>, where termios2 is declared.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

struct termios2;

// Line settings (the role of the DCB record). Fields the device cannot express are kept and
// emulated where possible; see SerialPort::SetState().
//
// How each field reaches a Linux tty:
// - BaudRate: any rate through termios2 (BOTHER) when it has no B constant.
// - ByteSize, Parity, StopBits: CS5..CS8, PARENB/PARODD/CMSPAR, CSTOPB (which gives 1.5 stop
//   bits with 5 data bits on UARTs). Input parity is not checked (INPCK off): errors are
//   counted by the UART and reported by ClearError where the device counts them.
//   A pseudo-terminal always keeps 8 data bits without parity; the record keeps what was
//   asked, so a read-modify-write still round-trips.
// - fDtrControl: 0 lowers DTR, 1 raises it; 2 (DTR input handshake) has no termios
//   equivalent and keeps DTR raised.
// - fRtsControl: 0 lowers RTS, 1 raises it, 2 is CRTSCTS, 3 raises RTS for each Write and
//   lowers it once the transmitter is empty (best effort, a few ms late at worst).
// - fOutxCtsFlow: CRTSCTS too (the kernel couples CTS output flow and RTS input flow).
// - fOutxDsrFlow: no termios equivalent; Write samples DSR every 10 ms and hands nothing
//   over while it is low.
// - fOutX: done by the driver itself, not the line discipline (IXON stays off), so the hold
//   is exact and visible; see SerialPort::Write().
// - fInX, XonLim, XoffLim: the driver sends XoffChar (TCIOFF) when at most XoffLim bytes of
//   its input queue are free, and XonChar (TCION) when at most XonLim bytes are left.
// On a device without modem lines (a pseudo-terminal) the line levels are simply not set.
struct SerialState
{
    std::uint32_t BaudRate = 9600; // any rate from 1 bit/s; 0 is refused
    std::uint8_t ByteSize = 8;     // 5 to 8
    std::uint8_t Parity = 0;       // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t StopBits = 0;     // 0 one, 1 one and a half (5 data bits only), 2 two
    std::uint8_t fDtrControl = 1;  // 0 DTR low, 1 DTR high while open, 2 handshake
    std::uint8_t fRtsControl = 1;  // 0 RTS low, 1 RTS high, 2 handshake (CRTSCTS), 3 toggle
    bool fOutxCtsFlow = false;     // hold output while CTS is low
    bool fOutxDsrFlow = false;     // hold output while DSR is low
    bool fOutX = false;            // hold output on XoffChar from the peer until XonChar
    bool fInX = false;             // send XoffChar/XonChar when the input queue fills/drains
    std::uint16_t XonLim = 0;      // input fill at which XonChar is sent (fInX)
    std::uint16_t XoffLim = 0;     // free room at which XoffChar is sent (fInX)
    char XonChar = 0x11;
    char XoffChar = 0x13;
};

// False for a record no tty can take: a zero rate, a character size outside 5..8, parity or
// stop bits out of range, 1.5 stop bits with more than 5 data bits, 2 stop bits with 5 data
// bits (a UART sends 1.5), the same XonChar and XoffChar while fOutX or fInX is on, and DTR
// or RTS control out of range.
bool ValidLineState(const SerialState& state);

// True when output waits for CTS: fOutxCtsFlow or the RTS handshake, both CRTSCTS.
bool CtsFlow(const SerialState& state);

// The time the line needs for `bytes` characters (start, data, parity and stop bits) at the
// record's rate, at most an hour.
std::chrono::steady_clock::duration LineTime(const SerialState& state, std::size_t bytes);

// The unit's XON/XOFF flow control on our output: the peer's XOFF (0x13) stops it, its XON
// (0x11) lets it go on; no hardware flow control, DTR and RTS raised, no XON/XOFF of ours.
// The limits are a tenth and nine tenths of the queue of `queueSize` bytes, computed in
// floating point, truncated and kept to the record's 16 bits (100000 gives an XoffLim of
// 90000 & 0xFFFF = 24464).
void SetXonXoffOutput(SerialState& state, std::uint32_t queueSize);

// The record for a device whose c_cflag and output speed are these: its character format and
// rate (9600 bit/s when `baud` is 0), every other field at its default.
SerialState DeviceLineState(std::uint32_t cflag, std::uint32_t baud);

// Writes what a record that ValidLineState accepts decides into `t`: the character format,
// CLOCAL and CREAD, CRTSCTS (see CtsFlow), the speed (its B constant, or BOTHER with the rate,
// the input speed following the output speed), IXON, IXOFF and IXANY off (XON/XOFF output
// flow is done by the driver so that the hold is visible), and XonChar and XoffChar as the
// characters TCION and TCIOFF send. Every other field of `t` is kept.
void MapLineState(const SerialState& state, termios2& t);

// Applies the record to the open device `fd` in one TCSETS2 call over what the kernel holds
// (MapLineState). Unlike glibc's tcsetattr this does not fail on a pseudo-terminal, which
// keeps 8 data bits without parity whatever is asked. The rate is read back: one the device
// did not take (LineSpeedTaken) puts the device's previous settings back and gives EINVAL.
// Returns 0 or the errno.
int ApplyLineState(int fd, const SerialState& state);

// A driver reports the rate it makes; one this close to the asked rate (1 part in 50, the
// kernel's own tolerance when it names a rate by its B constant) is the asked rate.
constexpr std::uint32_t LineSpeedTolerance = 50;

// Whether a device that was asked for `asked` bit/s and reports `reported` took the rate. A
// UART or USB adapter that cannot make a rate keeps its old one, or 9600, and says so.
bool LineSpeedTaken(std::uint32_t asked, std::uint32_t reported);

// Reads the output speed of the open device `fd` in bit/s. Returns 0 or the errno.
int GetLineSpeed(int fd, std::uint32_t* baud);

// The device's whole kernel settings, to put back on close exactly (also a speed without a
// B constant, which glibc's tcgetattr/tcsetattr cannot carry).
struct SavedTermios
{
    alignas(8) unsigned char bytes[64];
};
int SaveTermios(int fd, SavedTermios* saved);
int RestoreTermios(int fd, const SavedTermios& saved);
