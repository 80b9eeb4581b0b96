// The worker thread: pause points, deadlines kept across a pause, Synchronize onto the
// window's thread, and shutting down while a synchronized call waits.
#include "platform/Thread.h"

#include "platform/Application.h"
#include "platform/Exception.h"
#include "tests/support/TestApp.h"

#include <QThread>
#include <atomic>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Runs a callable as its body.
class LambdaThread : public TThread
{
public:
    explicit LambdaThread(std::function<void(LambdaThread&)> body, bool suspended = true)
        : TThread(true), body_(std::move(body))
    {
        if (!suspended)
            Start();
    }
    ~LambdaThread() override { Shutdown(); }

    using TThread::PausePoint;
    using TThread::SleepUntil;
    using TThread::Synchronize;

protected:
    void Execute() override { body_(*this); }

private:
    std::function<void(LambdaThread&)> body_;
};

} // namespace

TEST(Thread, CreatedPausedRunsOnlyAfterStart)
{
    std::atomic<bool> ran{false};
    LambdaThread t([&](LambdaThread&) { ran = true; });
    QThread::msleep(50);
    EXPECT_FALSE(ran);
    t.Start();
    t.WaitFor();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(t.Finished());
}

TEST(Thread, SynchronizeRunsOnTheWindowThreadAndWaits)
{
    std::atomic<bool> onMain{false};
    std::atomic<bool> returned{false};
    LambdaThread t(
        [&](LambdaThread& self) {
            self.Synchronize([&] { onMain = QThread::currentThread() == qApp->thread(); });
            returned = true;
        },
        false);
    ASSERT_TRUE(testapp::ProcessUntil([&] { return returned.load(); }, 5s));
    EXPECT_TRUE(onMain);
}

TEST(Thread, ExceptionFromSynchronizedCallIsRaisedOnTheWorker)
{
    std::atomic<bool> caught{false};
    LambdaThread t(
        [&](LambdaThread& self) {
            try {
                self.Synchronize([] { throw Exception("boom"); });
            } catch (const Exception& e) {
                caught = e.Message == "boom";
            }
        },
        false);
    ASSERT_TRUE(testapp::ProcessUntil([&] { return t.Finished(); }, 5s));
    EXPECT_TRUE(caught);
}

TEST(Thread, ShutdownCancelsASynchronizedCallTheWindowThreadHasNotRun)
{
    std::atomic<bool> posted{false};
    std::atomic<bool> ran{false};
    bool result = true;
    auto t = std::make_unique<LambdaThread>(
        [&](LambdaThread& self) {
            posted = true;
            result = self.Synchronize([&] { ran = true; });
        },
        false);
    while (!posted)
        QThread::msleep(1);
    QThread::msleep(20);
    // The window's thread is busy destroying the thread object: no deadlock, no call.
    t.reset();
    testapp::ProcessFor(50ms);
    EXPECT_FALSE(ran);
    EXPECT_FALSE(result);
}

TEST(Thread, PauseFreezesASleepButKeepsItsDeadline)
{
    std::atomic<int> phase{0};
    Clock::time_point woke;
    const auto deadline = Clock::now() + 100ms;
    LambdaThread t(
        [&](LambdaThread& self) {
            phase = 1;
            self.SleepUntil(deadline);
            woke = Clock::now();
            phase = 2;
        },
        false);
    while (phase != 1)
        QThread::msleep(1);
    t.Suspend();
    QThread::msleep(250); // past the deadline while paused
    EXPECT_EQ(phase, 1);
    const auto resumed = Clock::now();
    t.Resume();
    t.WaitFor();
    EXPECT_EQ(phase, 2);
    // Continued after its deadline: returns at once instead of starting a new wait.
    EXPECT_LT(woke - resumed, 80ms);
}

TEST(Thread, TerminateWakesASleep)
{
    LambdaThread t([&](LambdaThread& self) { self.SleepUntil(Clock::now() + 60s); }, false);
    QThread::msleep(20);
    const auto start = Clock::now();
    t.Terminate();
    t.WaitFor();
    EXPECT_LT(Clock::now() - start, 5s);
}

TEST(Thread, ShutdownFromInsideItsOwnSynchronizedCallIsRefused)
{
    std::atomic<bool> refused{false};
    LambdaThread* self = nullptr;
    LambdaThread t(
        [&](LambdaThread& me) {
            me.Synchronize([&] {
                try {
                    self->Shutdown();
                } catch (const Exception&) {
                    refused = true;
                }
            });
        },
        true);
    self = &t;
    t.Start();
    ASSERT_TRUE(testapp::ProcessUntil([&] { return t.Finished(); }, 5s));
    EXPECT_TRUE(refused);
}

TEST(Thread, ExceptionEscapingExecuteIsKept)
{
    LambdaThread t([](LambdaThread&) { throw Exception("worker failed"); }, false);
    t.WaitFor();
    ASSERT_TRUE(t.FatalException());
    try {
        std::rethrow_exception(t.FatalException());
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message, "worker failed");
    }
}
