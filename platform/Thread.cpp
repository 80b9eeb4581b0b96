#include "platform/Thread.h"

#include "platform/Exception.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

struct TThread::SyncRequest
{
    enum State
    {
        Pending,
        Running,
        Done,
        Cancelled
    };
    std::mutex mutex;
    std::condition_variable changed;
    State state = Pending;
    std::function<void()> fn;
    std::exception_ptr error;
};

TThread::TThread(bool CreateSuspended)
{
    if (!CreateSuspended)
        Start();
}

TThread::~TThread()
{
    Shutdown();
}

void TThread::Start()
{
    std::lock_guard lock(mutex_);
    suspended_ = false;
    if (!started_ && !shuttingDown_) {
        started_ = true;
        thread_ = std::thread([this] { Run(); });
    }
    wake_.notify_all();
}

void TThread::Suspend()
{
    std::lock_guard lock(mutex_);
    suspended_ = true;
}

void TThread::Resume()
{
    Start();
}

void TThread::Terminate()
{
    std::lock_guard lock(mutex_);
    terminated_ = true;
    wake_.notify_all();
}

void TThread::SetPriority(TThreadPriority priority)
{
    priority_ = priority;
    ApplyPriority();
}

// Linux keeps a nice value per thread; SCHED_OTHER threads are ranked by it.
void TThread::ApplyPriority()
{
    static constexpr int niceFor[] = {19, 10, 5, 0, -5, -10, -15};
    const int tid = tid_.load();
    if (tid == 0)
        return;
    const int nice = niceFor[priority_.load()];
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice);
}

std::exception_ptr TThread::FatalException() const
{
    std::lock_guard lock(mutex_);
    return fatal_;
}

void TThread::WaitFor()
{
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

void TThread::Shutdown()
{
    if (inSynchronize_.load() && QThread::currentThread() == qApp->thread())
        throw Exception("A thread cannot be stopped from inside its own synchronized call.");
    std::shared_ptr<SyncRequest> pending;
    {
        std::lock_guard lock(mutex_);
        shuttingDown_ = true;
        terminated_ = true;
        suspended_ = false;
        pending = pending_;
        wake_.notify_all();
    }
    if (pending) {
        std::lock_guard lock(pending->mutex);
        if (pending->state == SyncRequest::Pending) {
            pending->state = SyncRequest::Cancelled;
            pending->changed.notify_all();
        }
    }
    WaitFor();
}

void TThread::Run()
{
    tid_ = static_cast<int>(::syscall(SYS_gettid));
    ApplyPriority();
    try {
        Execute();
    } catch (...) {
        std::lock_guard lock(mutex_);
        fatal_ = std::current_exception();
    }
    finished_ = true;
}

bool TThread::Synchronize(const std::function<void()>& fn)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        fn();
        return true;
    }
    auto request = std::make_shared<SyncRequest>();
    request->fn = fn;
    {
        std::lock_guard lock(mutex_);
        if (shuttingDown_)
            return false;
        pending_ = request;
    }
    std::atomic<bool>* inSync = &inSynchronize_;
    // The posted call holds the request alone, never this thread object, so it is harmless
    // when it runs after the thread object is gone (the request is then cancelled).
    QMetaObject::invokeMethod(
        app,
        [request, inSync] {
            {
                std::lock_guard lock(request->mutex);
                if (request->state != SyncRequest::Pending)
                    return;
                request->state = SyncRequest::Running;
                inSync->store(true);
            }
            try {
                request->fn();
            } catch (...) {
                request->error = std::current_exception();
            }
            std::lock_guard lock(request->mutex);
            inSync->store(false);
            request->state = SyncRequest::Done;
            request->changed.notify_all();
        },
        Qt::QueuedConnection);

    std::unique_lock lock(request->mutex);
    request->changed.wait(lock, [&] {
        return request->state == SyncRequest::Done || request->state == SyncRequest::Cancelled;
    });
    const bool ran = request->state == SyncRequest::Done;
    lock.unlock();
    {
        std::lock_guard threadLock(mutex_);
        if (pending_ == request)
            pending_.reset();
    }
    if (request->error)
        std::rethrow_exception(request->error);
    PausePoint();
    return ran;
}

void TThread::SleepUntil(std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock lock(mutex_);
    for (;;) {
        if (terminated_)
            return;
        if (suspended_) {
            wake_.wait(lock);
            continue;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return;
        wake_.wait_until(lock, deadline);
    }
}

void TThread::PausePoint()
{
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [&] { return terminated_.load() || !suspended_.load(); });
}
