// A raw byte line for the unit simulator and for test clients: either a pseudo-terminal pair
// whose slave is published under a link path (the simulator holds the master side), or an
// existing serial device opened raw 8N1. All waits block in poll with steady-clock deadlines
// and can be cut short by Interrupt() or by SIGINT/SIGTERM once InstallStopSignals() ran.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

class PseudoTerminal;

class LineDevice
{
public:
    using Clock = std::chrono::steady_clock;

    // What a read found.
    enum class ReadStatus
    {
        Data,        // at least one byte was read
        Timeout,     // the deadline passed with nothing to read
        Interrupted, // Interrupt() or a stop signal woke the wait
        Dropped,     // the line is gone (hang-up or I/O error); see LastError()
    };

    // Creates a pseudo-terminal pair and publishes its slave as the symbolic link `link`
    // (replacing a stale one). The pair keeps its own slave descriptor open, so the master
    // does not see a hang-up while no program has the port open, just as a unit on a cable
    // cannot tell whether the PC's port is open. Throws Exception on failure.
    static std::unique_ptr<LineDevice> CreatePty(const std::string& link);

    // Opens an existing serial device raw 8N1, receiver on, modem lines ignored, no flow
    // control of its own (the caller sends XON/XOFF as data). `baud` 0 keeps the device's
    // speed; other values must be standard rates. Throws Exception on failure.
    static std::unique_ptr<LineDevice> OpenDevice(const std::string& path, unsigned baud);

    // Opens the far end of a line as a client (a test's stand-in for the uploader): raw, and
    // with `ixon` the kernel holds this side's output after a received XOFF until XON.
    // Throws Exception on failure.
    static std::unique_ptr<LineDevice> OpenClient(const std::string& path, bool ixon);

    ~LineDevice();
    LineDevice(const LineDevice&) = delete;
    LineDevice& operator=(const LineDevice&) = delete;

    // Reads up to `max` bytes into `buf`, waiting until `deadline` for the first one.
    // `*count` receives the number of bytes read.
    ReadStatus Read(char* buf, std::size_t max, std::size_t* count, Clock::time_point deadline);
    // Reads what is there now, without waiting.
    ReadStatus ReadNow(char* buf, std::size_t max, std::size_t* count);

    // Writes all bytes, waiting until `deadline` for room. Returns the number written (fewer
    // on timeout, interruption or a dropped line).
    std::size_t Write(std::string_view bytes, Clock::time_point deadline);

    // Blocks until `deadline` or an interruption; returns false when interrupted.
    bool SleepUntil(Clock::time_point deadline);

    // Wakes every wait of this device now and makes the following ones return at once.
    // Safe from any thread.
    void Interrupt();
    bool Interrupted() const;

    // Drops the line as a pulled USB adapter does: whoever has the far end open sees a
    // hang-up. Reconnect() then offers a fresh line (a new pty published under the same link,
    // or the device opened again).
    void Drop();
    void Reconnect();
    bool IsOpen() const { return fd_ >= 0; }

    // The device path (for a pty, its slave, for example /dev/pts/7) and the published link.
    const std::string& DevicePath() const { return devicePath_; }
    const std::string& LinkPath() const { return link_; }
    const std::string& LastError() const { return lastError_; }

    // Makes SIGINT and SIGTERM interrupt every LineDevice wait in the process (for the
    // simulator's clean exit). StopSignalled() tells whether one arrived.
    static void InstallStopSignals();
    static bool StopSignalled();

private:
    enum class Kind
    {
        Pty,
        Device,
        Client
    };
    LineDevice(Kind kind, std::string path, unsigned baud, bool ixon);
    void Open();
    // Polls the line for `events` and the wake-up pipes until the deadline. Returns 1 when the
    // line is ready, 0 on timeout, -1 when woken by an interruption.
    int Wait(short events, Clock::time_point deadline);

    Kind kind_;
    std::string link_;
    std::string devicePath_;
    unsigned baud_ = 0;
    bool ixon_ = false;
    std::unique_ptr<PseudoTerminal> pty_;
    int fd_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::atomic<bool> interrupted_{false};
    std::string lastError_;
};
