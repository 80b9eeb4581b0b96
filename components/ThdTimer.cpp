#include "components/ThdTimer.h"

#include "platform/Application.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <cstdio>

namespace {

void ReportTickException(const std::exception& e)
{
    if (Application)
        Application->ShowException(e);
    else
        std::fprintf(stderr, "%s\n", e.what());
}

// Runs one tick on the window's thread. An exception that escapes the handler would
// otherwise be raised again on the worker, where nothing could do anything useful with it:
// it is shown to the operator here instead and the timer goes on.
void RunTick(TThreadedTimer* timer)
{
    try {
        timer->Timer();
    } catch (const std::exception& e) {
        ReportTickException(e);
    } catch (...) {
        ReportTickException(Exception("Unknown error in a timer's tick handler."));
    }
}

bool OnWindowThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

// Deletes a detached worker once the tick it is waiting for has returned. The check repeats
// (with a short delay, not a spin) when the window's thread is still inside that tick, for
// example in a nested message loop of the handler.
void DeleteWhenReleased(TTimerThread* worker)
{
    if (!worker->InSynchronize()) {
        delete worker;
        return;
    }
    QTimer::singleShot(std::chrono::milliseconds(10), QCoreApplication::instance(),
                       [worker] { DeleteWhenReleased(worker); });
}

} // namespace

TTimerThread::TTimerThread(TThreadedTimer* Owner) : TThread(true), FOwner(Owner) {}

TTimerThread::~TTimerThread()
{
    Shutdown();
}

void TTimerThread::DetachOwner()
{
    FOwner = nullptr;
    Terminate();
}

void TTimerThread::Execute()
{
    while (!Terminated()) {
        TThreadedTimer* owner = FOwner.load();
        if (!owner)
            return;
        if (Priority() != owner->Priority())
            SetPriority(owner->Priority());
        // A pause freezes this wait; its end time stays where it was set here.
        Sleep(std::chrono::milliseconds(owner->Interval()));
        if (Terminated())
            return;
        // Waits until the tick has returned; a pause requested meanwhile holds the worker
        // right after it, and continuing starts a fresh wait. Shutdown cancels a request
        // the window's thread has not begun.
        Synchronize([owner] { RunTick(owner); });
    }
}

TThreadedTimer::TThreadedTimer(QObject* Owner)
    : TComponent(Owner), FTimerThread(std::make_unique<TTimerThread>(this))
{
    FTimerThread->Start();
}

TThreadedTimer::~TThreadedTimer()
{
    FEnabled = false;
    UpdateTimer();
    if (FTimerThread->InSynchronize() && OnWindowThread()) {
        // Destroyed from inside its own tick: the worker waits for this very call to
        // return, so it cannot be joined here. Cut its link to this timer and let it end
        // after the tick; the window's thread deletes it then.
        TTimerThread* worker = FTimerThread.release();
        worker->DetachOwner();
        QTimer::singleShot(0, QCoreApplication::instance(),
                           [worker] { DeleteWhenReleased(worker); });
        return;
    }
    FTimerThread.reset();
}

void TThreadedTimer::SetEnabled(bool Value)
{
    if (Value == FEnabled)
        return;
    FEnabled = Value;
    UpdateTimer();
}

void TThreadedTimer::SetInterval(unsigned short Value)
{
    if (Value == FInterval.load())
        return;
    FInterval = Value;
    UpdateTimer();
}

void TThreadedTimer::SetThreadPriority(TThreadPriority Value)
{
    if (Value == FPriority.load())
        return;
    FPriority = Value;
    UpdateTimer();
}

void TThreadedTimer::Timer()
{
    if (!OnTimer)
        return;
    // A copy, so a handler that reassigns OnTimer or destroys the timer keeps running on
    // intact state.
    const TNotifyEvent handler = OnTimer;
    handler(this);
}

void TThreadedTimer::UpdateTimer()
{
    if (!FTimerThread)
        return;
    if (!FTimerThread->Suspended())
        FTimerThread->Suspend();
    if (FInterval.load() != 0 && FEnabled)
        FTimerThread->Resume();
}
