// The core of an open serial port: the device, the state that the port's calls and its I/O
// thread share under one lock, the I/O thread that takes the device's input in as it
// arrives, and the XON/XOFF flow control in both directions (the peer's hold on our output,
// our hold on the peer's when the input queue fills).
#pragma once

#include "platform/SerialDevice.h"
#include "platform/SerialInputQueue.h"
#include "platform/SerialLineSettings.h"
#include "platform/SerialPort.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <linux/serial.h>
#include <mutex>
#include <thread>

struct SerialIo
{
    using Clock = std::chrono::steady_clock;
    static constexpr std::uint32_t kDefaultInQueue = 4096;

    SerialIo() = default;
    // Stops the I/O thread and closes the device, releasing both holds.
    ~SerialIo();
    SerialIo(const SerialIo&) = delete;
    SerialIo& operator=(const SerialIo&) = delete;

    // Once the device is open and the state applied: creates the wake-up events and starts
    // the I/O thread. Returns 0 or the errno.
    int Start();

    int Fd() const { return device.Fd(); }
    SerialResult Fail(int e);

    // Under m: applies the line settings to the device and takes them as the state. Switching
    // fOutX off releases the peer's hold, switching fInX off ours.
    SerialResult Apply(const SerialState& s);

    // Under m: takes in whatever the device has now, without waiting. Both the I/O thread
    // and the writer call it (the writer just before it hands bytes over, so an XOFF that has
    // reached the device is seen even while the I/O thread waits for a processor). Returns
    // 0, or the errno of a failed or vanished device, which is then marked failed; the
    // caller notifies readCv and the writer.
    int PumpInput(char* buf, std::size_t size, bool* received);

    // Under m: ends the peer's hold on our output; returns whether there was one. The caller
    // wakes the writer.
    bool ReleaseHold();
    // Under m: the peer's hold begins or ends; tells holdObserver.
    void SetHeld(bool on);
    // Under m: the input queue drained, so a hold we put on the peer can end.
    void MaybeSendXon();

    // A waiting writer has something to look at (a hold change, a purge, a failure).
    void WakeWriter();
    // Makes a following WakeWriter() end the writer's next wait (and no earlier one).
    void ClearWriterWake();
    // The I/O thread has something to look at (a new RTS deadline).
    void WakeIo();

    SerialDevice device;
    int ioWake = -1;    // eventfd: stop request or a new RTS deadline for the I/O thread
    int writeWake = -1; // eventfd: a waiting Write has something to look at
    std::thread io;

    std::atomic<int> lastErrno{0};
    std::atomic<std::size_t> writePending{0};
    // Counts AbortWrite calls: a Write begun before the count moved ends with Aborted.
    std::atomic<std::uint64_t> writeAbortCount{0};

    mutable std::mutex m;
    std::condition_variable readCv;
    // Guarded by m:
    SerialState state;
    SerialTimeouts timeouts;
    std::uint32_t outQueueSize = kDefaultInQueue;
    SerialInputQueue in{kDefaultInQueue};
    bool held = false;     // the peer's XOFF holds output
    bool xoffSent = false; // our XOFF holds the peer (fInX)
    bool wakeRead = false;
    std::uint64_t purgeCount = 0;
    // Told under m, from whichever thread saw the change, when the hold begins or ends.
    std::function<void(bool held)> holdObserver;
    bool failed = false;
    int failErrno = 0;
    bool stop = false;
    std::uint32_t errors = 0;
    serial_icounter_struct counts{};
    bool haveCounts = false;
    bool rtsLowerPending = false;
    Clock::time_point rtsLowerAt{};

private:
    // Under m: handles the peer's flow control bytes and queues the rest.
    void Receive(char* bytes, std::size_t count, Clock::time_point time);
    // Under m: lowers RTS in toggle mode once the transmitter is empty; returns the next time
    // to look again, or max.
    Clock::time_point ServiceRtsToggle(Clock::time_point now);
    void IoLoop();
};
