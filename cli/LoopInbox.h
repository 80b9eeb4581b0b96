// The inbox of the command's event loop: the reader thread's packets and failure, the
// transmitter's and the driver's "something changed", and the termination signals, handed to
// the loop thread, which alone calls the engine. The loop sleeps on a condition variable
// until something comes or its next timer is due: no busy waiting.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

namespace cli {

struct LoopEvents
{
    std::deque<std::string> packets;
    std::optional<std::string> readFailure; // "Read Error: 5"
    bool sendChanged = false;               // progress, drain, hold or failure of the sender
    int signal = 0;                         // the last termination signal, 0 for none
};

class LoopInbox
{
public:
    // From any thread.
    void Packet(std::string bytes);
    void ReadFailed(std::string errorText);
    void SendChanged();
    void Signal(int signal);
    // The loop thread: waits until something has come or the deadline has passed, and takes
    // everything that came.
    LoopEvents Wait(std::chrono::steady_clock::time_point deadline);

private:
    std::mutex m_;
    std::condition_variable cv_;
    LoopEvents events_;
    bool any_ = false;
};

} // namespace cli
