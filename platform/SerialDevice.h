// The tty under an open serial port: opened exclusively, in raw mode, and left as it was
// found when closed; it knows whether it is a pseudo-terminal (no transmit queue, no modem
// lines). With the EINTR-safe wrappers of the calls the driver's files share.
#pragma once

#include "platform/SerialLineSettings.h"

#include <cstdint>
#include <string>

enum class SerialResult;

// ioctl and tcflow with EINTR retried: 0 or the errno. tcflow reports through its return
// value; errno may hold an older value on success.
int SerialIoctl(int fd, unsigned long request, void* arg);
int SerialFlow(int fd, int action);

// The system's text for an errno value.
std::string ErrnoText(int e);

class SerialDevice
{
public:
    SerialDevice() = default;
    ~SerialDevice();
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    // Opens the device `path` (O_NOCTTY|O_NONBLOCK), takes it exclusively (an advisory
    // flock, which holds even against root, and TIOCEXCL), keeps its settings to restore and
    // puts it in raw mode. On failure returns false with the outcome in *result and the
    // reason ("<path>: <the system's text>" or "<path>: Not a serial device") in *reason;
    // the device is closed again then.
    bool Open(const std::string& path, SerialResult* result, std::string* reason);

    // Lets output go on (a held line would otherwise keep its bytes for ever), sends TCION
    // when `releasePeer` (the driver's XOFF holds the peer), restores the settings the device
    // had, drops the exclusive hold and closes it. Does nothing when not open.
    void Close(bool releasePeer);

    const std::string& Path() const { return path_; }
    int Fd() const { return fd_; }
    bool IsPty() const { return isPty_; }
    // c_cflag as the device had it before Open.
    std::uint32_t OriginalCflag() const { return originalCflag_; }

    // Discards what the kernel received and nobody has read yet (Purge). The transmit side
    // is left alone: what waits there was reported as written.
    void FlushInput();

    // Raises or lowers the TIOCM_ lines in `bits`; nothing on a pty.
    void SetLines(int bits, bool on);

private:
    std::string path_;
    int fd_ = -1;
    SavedTermios saved_{};
    bool haveOriginal_ = false;
    bool locked_ = false;
    bool isPty_ = false;
    std::uint32_t originalCflag_ = 0;
};
