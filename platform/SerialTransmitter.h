// A port's transmitter: takes bytes at once, from any thread, and hands them to the driver in
// order on a thread of its own, so that no caller waits for the line. It tells how many bytes
// the driver has taken, when the device's transmit queue has drained after them, and a
// failure of the device; it can drop what the driver has not yet taken.
//
// Threads: Send, Abandon and Snapshot from any thread. `notify` is called on the
// transmitter's thread (never under a lock of the port's) each time the progress changes: it
// should only signal the owner, who then reads Snapshot(). The port must outlive the
// transmitter.
#pragma once

#include "platform/SerialPort.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

// What became of a transmitter's bytes and of its line since the last report.
struct SerialSendReport
{
    std::uint64_t taken = 0;      // more bytes the driver took
    std::uint64_t dropped = 0;    // more bytes dropped (Abandon, a failure)
    bool drained = true;          // every byte taken has left the device
    bool held = false;            // the peer's XOFF holds output now
    std::uint32_t lineErrors = 0; // CE_ bits seen since the last report (cleared by reading)
    std::string failure;          // "Send Error: " + the system's code, once; empty otherwise
};

class SerialTransmitter
{
public:
    struct Progress
    {
        std::uint64_t submitted = 0; // bytes given to Send so far
        std::uint64_t taken = 0;     // of them, handed over to the driver
        std::uint64_t dropped = 0;   // of them, dropped by Abandon or after a failure
        // Everything taken has left the device's transmit queue (or the queue stopped telling
        // and the bytes' line time, with a margin, has passed while the line was not held).
        bool drained = true;
        SerialResult failure = SerialResult::Ok; // IoError once the device failed
        int failErrno = 0;
        // Every byte submitted is either taken or dropped.
        bool Settled() const { return taken + dropped == submitted; }
    };

    SerialTransmitter(SerialPort& port, std::function<void()> notify);
    // Drops what is not yet taken and stops the thread.
    ~SerialTransmitter();
    SerialTransmitter(const SerialTransmitter&) = delete;
    SerialTransmitter& operator=(const SerialTransmitter&) = delete;

    // Queues the bytes behind those given before. Never blocks on the line. After a failure the
    // bytes are dropped at once.
    void Send(const char* data, std::size_t count);
    // Drops every byte the driver has not taken; a hand-over waiting for the line ends. What
    // was taken still goes out.
    void Abandon();
    Progress Snapshot() const;
    // The changes since the last call, with the hold and the port's error flags (read, so
    // cleared) beside them. For the one thread that handles the transmitter's reports.
    SerialSendReport TakeReport();

private:
    void Run();
    // Under m_: takes the queued bytes, up to one hand-over's worth, into `out`.
    void TakeBlock(std::string& out);
    // Waits for the device's transmit queue to empty after the last hand-over, while nothing
    // new comes. Called with `lock` held.
    void WatchDrain(std::unique_lock<std::mutex>& lock);
    void Tell();

    SerialPort& port_;
    std::function<void()> notify_;
    mutable std::mutex m_;
    std::condition_variable cv_;
    std::deque<std::string> queue_; // guarded by m_
    std::uint64_t abandonCount_ = 0;
    bool stop_ = false;
    bool drainDue_ = false;
    Progress progress_;
    // The report thread's own: the figures of the last report, and whether it told a failure.
    Progress reported_;
    bool failureReported_ = false;
    std::thread thread_;
};
