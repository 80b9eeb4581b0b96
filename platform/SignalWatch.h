// The termination requests (SIGINT, SIGTERM) taken as events on a thread of their own instead
// of by a signal handler, so a program can end its work in order (cancel, log, record) on the
// thread that owns it.
#pragma once

#include <functional>
#include <thread>

class SignalWatch
{
public:
    // Blocks SIGINT and SIGTERM in the calling thread, and so in every thread it starts later:
    // create it before any other thread. `told` is called on the watch's thread with the
    // signal's number, once per signal; it should only signal its owner.
    explicit SignalWatch(std::function<void(int signal)> told);
    // Stops the watch; the signals stay blocked (a program ending anyway loses nothing).
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

private:
    void Run();

    std::function<void(int)> told_;
    int signalFd_ = -1;
    int stopFd_ = -1;
    std::thread thread_;
};
