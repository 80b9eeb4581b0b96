// The tool's serial driver on Linux: one object per open port over termios, offering what
// the serial components need: line settings read-modify-write, packet read timeouts, queue
// sizes, purge, XON/XOFF output hold handled in the driver, status and error queries and the
// modem lines. This is its public face. Behind it: SerialLineSettings (the settings and their
// tty mapping), SerialDevice (the open tty), SerialInputQueue (received bytes with their
// arrival times), SerialIo (the I/O thread and the XON/XOFF hold) and SerialWriter (the
// hand-over of a Write's bytes).
#pragma once

#include "platform/SerialLineSettings.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The closed set of outcomes. The operating system's detail (errno and its text) is kept
// per port, beside it: see LastErrno() and LastErrorText().
enum class SerialResult
{
    Ok,
    NotFound,        // no such device, or a port name that maps to none
    Busy,            // another program holds the port
    AccessDenied,    // no permission (not in the dialout group)
    InvalidArgument, // a setting the device or termios cannot take
    Timeout,         // a bounded wait ran out before the whole request was done
    Aborted,         // ended by Purge() (the role of an aborted overlapped operation)
    IoError,         // the device failed or vanished (an unplugged USB adapter gives EIO)
};

// Read timeouts in milliseconds (the role of COMMTIMEOUTS). A read of n bytes completes at
// the first of: n bytes arrived; after the first byte, more than ReadIntervalTimeout ms
// between two bytes (0: no interval limit); ReadTotalTimeoutMultiplier * n +
// ReadTotalTimeoutConstant ms since the read began (both 0: no total limit). The write
// values are stored and reported only.
struct SerialTimeouts
{
    std::uint32_t ReadIntervalTimeout = 0;
    std::uint32_t ReadTotalTimeoutMultiplier = 0;
    std::uint32_t ReadTotalTimeoutConstant = 0;
    std::uint32_t WriteTotalTimeoutMultiplier = 0;
    std::uint32_t WriteTotalTimeoutConstant = 0;
};

// Status record (the role of COMSTAT): hold reasons, then the queue fill levels.
struct SerialStatus
{
    std::uint32_t Flags = 0;    // the bits below
    std::uint32_t cbInQue = 0;  // bytes in the driver's input queue
    std::uint32_t cbOutQue = 0; // bytes handed over but not yet sent (as far as known)
};
constexpr std::uint32_t fCtsHold = 1u << 0;
constexpr std::uint32_t fDsrHold = 1u << 1;
constexpr std::uint32_t fRlsdHold = 1u << 2;
constexpr std::uint32_t fXoffHold = 1u << 3; // output held: the peer sent XOFF
constexpr std::uint32_t fXoffSent = 1u << 4;
constexpr std::uint32_t fEof = 1u << 5;
constexpr std::uint32_t fTxim = 1u << 6;

// Error flags, cleared by reading them (ClearError).
constexpr std::uint32_t CE_RXOVER = 0x0001;   // input queue overflow: bytes dropped
constexpr std::uint32_t CE_OVERRUN = 0x0002;  // hardware overrun
constexpr std::uint32_t CE_RXPARITY = 0x0004; // parity error
constexpr std::uint32_t CE_FRAME = 0x0008;    // framing error
constexpr std::uint32_t CE_BREAK = 0x0010;    // break received

// Modem status bits (GetModemStatus).
constexpr std::uint32_t MS_CTS_ON = 0x0010;
constexpr std::uint32_t MS_DSR_ON = 0x0020;
constexpr std::uint32_t MS_RING_ON = 0x0040;
constexpr std::uint32_t MS_RLSD_ON = 0x0080;

// Output line functions (EscapeFunction).
enum SerialEscape : int
{
    SETRTS = 3,
    CLRRTS = 4,
    SETDTR = 5,
    CLRDTR = 6
};

struct SerialIo;

class SerialPort
{
public:
    // Opens a port exclusively (O_NOCTTY|O_NONBLOCK, TIOCEXCL, and an advisory flock that
    // holds even against root) and puts it in raw mode; the original termios is restored
    // on close. `name` is "COM" + n, resolved through the port map (PortNames.h), or a
    // device path. On failure returns null, with the outcome in *result and the system's
    // reason, for example "/dev/ttyUSB0: Permission denied", in *reason.
    // Outcomes: NotFound for "COM0" and names that are not "COM" + a number ("COM0: No such
    // port"), a missing device ("/dev/ttyS4: No such file or directory") and a file that is
    // not a terminal ("/tmp/x: Not a serial device"); AccessDenied for EACCES/EPERM; Busy
    // when another opener holds the port ("/dev/ttyS0: Device or resource busy"); IoError
    // otherwise. The port starts with the character format and speed the device had (9600
    // bit/s if it had none), DTR and RTS raised, no flow control, input queue 4096 bytes and
    // no read timeouts.
    //
    // Threads: one Read and one Write may run at the same time on different threads, and
    // every other call may come from any thread meanwhile. The port must not be destroyed
    // while a call is in progress (stop the reader first: WakeRead() ends its Read).
    static std::unique_ptr<SerialPort> Open(const std::string& name, SerialResult* result,
                                            std::string* reason);
    // Stops the driver's I/O, restores the original settings and closes the device.
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // The device path that was opened.
    const std::string& Path() const;

    // Read-modify-write of the line settings. SetState refuses (false, InvalidArgument)
    // a zero rate, a character size outside 5..8, 1.5 stop bits with more than 5 data
    // bits, 2 stop bits with 5 data bits (a UART sends 1.5), the same XonChar and XoffChar
    // while fOutX or fInX is on, values out of range, and a rate the device does not make
    // (it reports another one when asked, see LineSpeedTaken; LastErrorText names the rate);
    // the port keeps its previous settings then. GetState returns the record as last set
    // (see SerialState).
    // Switching fOutX off releases a hold.
    bool GetState(SerialState& state);
    bool SetState(const SerialState& state);

    bool GetTimeouts(SerialTimeouts& timeouts);
    bool SetTimeouts(const SerialTimeouts& timeouts);

    // Queue sizes (the role of SetupComm): the input queue holds `inQueue` bytes; when it
    // overflows the excess is dropped and CE_RXOVER is set. Zero sizes are refused. Bytes
    // beyond a smaller new size are dropped the same way. The queue takes memory as bytes
    // fill it, so a huge size costs nothing until used; false (ENOMEM) when even shrinking
    // cannot get its memory. `outQueue` is kept only: the writer keeps the kernel's transmit
    // queue at most 128 bytes deep whatever it is.
    bool SetupQueues(std::uint32_t inQueue, std::uint32_t outQueue);

    // Abandons pending transfers and empties the input side: the kernel's input queue and
    // the driver's. A Read or Write in progress ends with Aborted; the bytes that Write had
    // not yet handed over are dropped. Bytes a Write reported as written are never
    // discarded: the kernel's short transmit queue (at most 128 bytes, see Write) drains
    // within its line time, as bytes on a wire. A hold by the peer's XOFF is kept: only the
    // peer's XON, switching fOutX off, or closing the port ends it.
    void Purge();

    // Reads up to `size` bytes under the timeouts (see SerialTimeouts). Returns Ok with
    // *received bytes (possibly 0 when the total timeout ran out with nothing, or when
    // WakeRead() cut it short); Aborted when Purge() ended it; IoError (LastErrno()) when
    // the device failed. XON/XOFF bytes consumed by the output flow control never appear.
    // One reader at a time. The pauses are judged by the arrival time of each byte at the
    // driver, so bytes that came in two pieces before the Read began still arrive as two
    // packets. Bytes that came before a failure are delivered first; the failure follows.
    SerialResult Read(char* buffer, std::size_t size, std::size_t* received);
    // Makes a Read in progress return at once with what it has (the role of signalling
    // the read event from another thread). Without a Read in progress the next Read
    // returns at once. Safe from any thread.
    void WakeRead();

    // Hands bytes to the driver, waiting at most `maxWait` in all: while output is held
    // (XOFF, or CTS/DSR flow control) nothing is handed over, and the kernel's transmit
    // queue is kept at most 128 bytes deep (so an XOFF stops the line within those bytes
    // even on adapters that ignore a stop request). Returns Ok when all were handed over;
    // Timeout with *written < count when maxWait ran out (call again with the rest);
    // Aborted when Purge() ended it; IoError (LastErrno()) on a failure. Never spins: waits
    // block until the hold changes, the queue drains or the deadline passes. Pending input is
    // taken in before each hand-over, so a peer's XOFF stops the writer even while the
    // driver's I/O thread waits for a processor. A pseudo-terminal shows no transmit queue
    // and holds about 20 KiB itself: there, bytes are handed over in large pieces and the
    // kernel's own stop (TCOOFF) keeps them back after an XOFF.
    SerialResult Write(const char* data, std::size_t count, std::size_t* written,
                       std::chrono::milliseconds maxWait);
    // The same, ended with Aborted by any AbortWrite after WriteAbortMark() returned
    // `abortMark`: a caller that takes the mark with its bytes loses no abort that came
    // between the two.
    SerialResult Write(const char* data, std::size_t count, std::size_t* written,
                       std::chrono::milliseconds maxWait, std::uint64_t abortMark);
    std::uint64_t WriteAbortMark() const;

    // True while the peer's XOFF holds output. Clears nothing.
    bool OutputHeld() const;
    // Ends the peer's hold as its XON would (for a peer that is gone: a unit that started
    // again never sends the XON its predecessor owed). Returns whether there was one.
    bool ReleaseOutputHold();
    // `observer` is told each time the peer's hold begins (true) or ends (false). It is called
    // from the driver's threads or the caller's, with the driver's lock held: it must only
    // record and signal, never call this port. Set it before the port is in use; empty to stop.
    void SetHoldObserver(std::function<void(bool held)> observer);
    // Ends a Write in progress with Aborted (the bytes it had not handed over are dropped),
    // leaving the input side as it is; a Write that begins later is not affected unless it
    // was given an earlier mark. Safe from any thread.
    void AbortWrite();
    // The bytes handed over but not yet sent (as far as the device tells) plus those of a
    // Write in progress: the status record's cbOutQue, read without clearing the error flags.
    std::uint32_t OutputQueued() const;

    // Sets or clears DTR or RTS (SETDTR, CLRDTR, SETRTS, CLRRTS). False when the device has
    // no modem lines (a pseudo-terminal; LastErrno() ENOTTY): callers ignore that.
    bool EscapeFunction(int function);
    // The four input lines as MS_ bits. False when the device has no modem lines.
    bool GetModemStatus(std::uint32_t* status);

    // Returns and clears the pending error flags (CE_ bits) and fills the status record
    // (the role of ClearCommError). CE_RXOVER comes from the driver's input queue; the
    // hardware errors from the device's counters (TIOCGICOUNT), where it keeps them. cbOutQue
    // is the kernel's transmit queue plus the bytes of a Write not yet handed over; fCtsHold
    // and fDsrHold are set while that flow control is on and the line is low. Once the
    // device has failed, the records are still filled and the result is false.
    bool ClearError(std::uint32_t* errors, SerialStatus* status);

    // The operating system's error of the last failed operation on this port (0 if none),
    // and its text from strerror.
    int LastErrno() const;
    std::string LastErrorText() const;

private:
    SerialPort();
    std::unique_ptr<SerialIo> io_;
    // The rate of the last SetState that the device did not take, and the rate it kept; 0
    // when the last refusal was for another reason.
    std::uint32_t refusedBaud_ = 0;
    std::uint32_t keptBaud_ = 0;
};
