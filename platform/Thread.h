// A worker thread in the role of the class library's thread class: created paused or
// running, paused and continued at its pause points, a terminate request, a priority, and
// Synchronize, which runs a callable on the window's (Qt main) thread and waits for it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

enum TThreadPriority
{
    tpIdle,
    tpLowest,
    tpLower,
    tpNormal,
    tpHigher,
    tpHighest,
    tpTimeCritical
};

class TThread
{
public:
    // A thread created paused runs only after Start() (or Resume()).
    explicit TThread(bool CreateSuspended);
    // Calls Shutdown(). A derived class whose Execute() touches its own members must call
    // Shutdown() at the start of its own destructor, before those members are gone.
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Starts a thread that was created paused; continues a paused one.
    void Start();
    // Asks the worker to freeze at its next pause point (Sleep, PausePoint, the end of a
    // Synchronize call). A pause never loses a pending deadline: see SleepUntil.
    void Suspend();
    // Lets a paused worker go on from where it froze; starts a thread created paused.
    void Resume();
    bool Suspended() const { return suspended_.load(); }

    // Sets the terminate request that Execute() tests; also wakes a sleeping worker.
    void Terminate();
    bool Terminated() const { return terminated_.load(); }

    // Best effort: a refusal of the system (raising priority needs privileges) is ignored.
    // Takes effect at once when the worker runs, else when it starts.
    void SetPriority(TThreadPriority priority);
    TThreadPriority Priority() const { return priority_.load(); }

    // True once Execute() has returned (or thrown).
    bool Finished() const { return finished_.load(); }
    // The exception that escaped Execute(), if any.
    std::exception_ptr FatalException() const;
    // Blocks until the worker has ended. Never call it on the worker itself, nor on the
    // window's thread while the worker may be waiting in Synchronize (use Shutdown()).
    void WaitFor();

    // Ends the worker for good without deadlock from the window's thread: sets the terminate
    // request, cancels a Synchronize request the window's thread has not begun, releases a
    // pause and joins. Safe to call more than once. Must not be called from inside this
    // thread's own synchronized call (InSynchronize()); that is a programming error and
    // throws Exception.
    void Shutdown();

    // True while a callable handed over by this thread's Synchronize runs on the window's
    // thread (the worker is waiting for it to return).
    bool InSynchronize() const { return inSynchronize_.load(); }

protected:
    virtual void Execute() = 0;

    // Runs fn on the window's thread and waits until it has returned; an exception that fn
    // lets escape is raised again here. Called on the window's thread itself, fn simply
    // runs. Returns false, without running fn, when Shutdown() cancelled the request.
    bool Synchronize(const std::function<void()>& fn);

    // Sleeps until the deadline. While paused the worker stays frozen; the deadline keeps
    // running, so a worker continued after the deadline returns at once. Returns early
    // when the terminate request is set.
    void SleepUntil(std::chrono::steady_clock::time_point deadline);
    void Sleep(std::chrono::milliseconds duration)
    {
        SleepUntil(std::chrono::steady_clock::now() + duration);
    }
    // Blocks while the thread is paused; returns at once when the terminate request is set.
    void PausePoint();

private:
    struct SyncRequest;
    void Run();
    void ApplyPriority();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;
    bool started_ = false;
    bool shuttingDown_ = false;
    std::shared_ptr<SyncRequest> pending_;
    std::exception_ptr fatal_;
    std::atomic<bool> suspended_{false};
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> inSynchronize_{false};
    std::atomic<TThreadPriority> priority_{tpNormal};
    std::atomic<int> tid_{0};
};
