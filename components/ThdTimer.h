// A non-visual timer whose ticks are produced by a worker thread of its own instead of by
// window timer messages: the worker sleeps the interval, has the tick run on the window's
// thread, waits until it has returned, and starts the next wait (fixed delay).
#pragma once

#include "platform/Component.h"
#include "platform/Thread.h"

#include <atomic>
#include <memory>

class TThreadedTimer;

// The worker of one TThreadedTimer. It holds a link to its timer (not owned) and is created
// paused, so the link is set before the worker runs any of its own code.
class TTimerThread : public TThread
{
public:
    explicit TTimerThread(TThreadedTimer* Owner);
    // Ends the worker (cancelling a tick request the window's thread has not begun) before
    // anything it uses is gone.
    ~TTimerThread() override;

    // Cuts the link to the timer and asks the worker to end; used when the timer is
    // destroyed while the worker cannot be joined yet (from inside the timer's own tick).
    void DetachOwner();

protected:
    // Loop: apply the timer's Priority, sleep its Interval (read afresh each round), run
    // the tick on the window's thread and wait for it; ends on the terminate request.
    void Execute() override;

private:
    std::atomic<TThreadedTimer*> FOwner;
};

// Settings are read and changed on the window's thread only; the worker reads Interval and
// Priority without a lock (both atomic).
//
// Guarantees: OnTimer runs on the window's thread, never overlaps another tick of the same
// timer, and ticks are spaced by Interval milliseconds counted from the end of the previous
// tick. Switching off (Enabled false or Interval 0) freezes the worker where it is;
// switching on lets it go on from the same point, so an interrupted wait keeps its end time.
// A tick already requested when the timer is switched off still runs once.
//
// An exception that escapes OnTimer (or an overriding Timer) is caught on the window's
// thread, shown with Application->ShowException, and the timer goes on ticking.
//
// A change of Priority reaches the worker at the start of its next round, before the next
// wait begins.
//
// Destruction stops the worker without waiting for the window's thread: a tick that is
// requested but not begun is cancelled, so no OnTimer call happens once the destructor has
// begun. Destroying the timer from inside its own OnTimer is allowed: the worker is then
// released and deleted by a call queued to the window's thread after the tick returns.
class TThreadedTimer : public TComponent
{
public:
    // Enabled true, Interval 1000, Priority tpNormal; the worker starts at once.
    explicit TThreadedTimer(QObject* Owner);
    ~TThreadedTimer() override;

    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool Value);
    // Milliseconds per wait; 0 stops the timer like Enabled false. A new value takes effect
    // with the next wait; the wait in progress keeps its length.
    unsigned short Interval() const { return FInterval.load(); }
    void SetInterval(unsigned short Value);
    TThreadPriority Priority() const { return FPriority.load(); }
    void SetThreadPriority(TThreadPriority Value);

    // Called on the window's thread at each tick with Sender = this timer.
    TNotifyEvent OnTimer;

    // The tick; runs on the window's thread. Calls OnTimer when assigned.
    virtual void Timer();

    // Pauses the worker, then lets it continue when Enabled is true and Interval is not 0.
    void UpdateTimer();

    // The worker, for inspection (tests, diagnostics).
    const TTimerThread* TimerThread() const { return FTimerThread.get(); }

private:
    bool FEnabled = true;
    std::atomic<unsigned short> FInterval{1000};
    std::unique_ptr<TTimerThread> FTimerThread;
    std::atomic<TThreadPriority> FPriority{tpNormal};
};
