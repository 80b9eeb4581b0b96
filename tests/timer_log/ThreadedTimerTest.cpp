// The threaded timer with a real worker thread and the real Qt event loop. Timing checks
// rest on lower bounds the timer guarantees (a wait never ends early) and on upper bounds
// with wide margins for a loaded machine.
#include "components/ThdTimer.h"
#include "platform/Application.h"
#include "platform/Exception.h"
#include "tests/support/TestApp.h"

#include <QPointer>
#include <QThread>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

Ms Since(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration_cast<Ms>(to - from);
}

// Records every tick: start and end times, the thread it ran on, and overlap.
struct TickLog
{
    std::vector<Clock::time_point> starts;
    std::vector<Clock::time_point> ends;
    bool inside = false;
    bool overlapped = false;
    bool offWindowThread = false;
    std::vector<TObject*> senders;
    // Runs inside the tick, after the start is recorded.
    std::function<void(int tick)> body;

    TNotifyEvent Handler()
    {
        return [this](TObject* sender) {
            if (inside)
                overlapped = true;
            inside = true;
            if (QThread::currentThread() != Application->thread())
                offWindowThread = true;
            senders.push_back(sender);
            starts.push_back(Clock::now());
            if (body)
                body(int(starts.size()));
            ends.push_back(Clock::now());
            inside = false;
        };
    }
    int Count() const { return int(starts.size()); }
    bool WaitFor(int count, Ms timeout = 10s)
    {
        return testapp::ProcessUntil([&] { return Count() >= count; }, timeout);
    }
};

class ThreadedTimerTest : public ::testing::Test
{
protected:
    void SetUp() override { testapp::ResetRecorders(); }
    void TearDown() override
    {
        // Lets a deferred clean-up of a timer destroyed inside its tick finish.
        testapp::ProcessFor(50ms);
    }
};

TEST_F(ThreadedTimerTest, DefaultsTickAboutEverySecondOnTheWindowThread)
{
    TickLog ticks;
    QObject owner;
    auto* timer = new TThreadedTimer(&owner);
    timer->OnTimer = ticks.Handler();
    EXPECT_TRUE(timer->Enabled());
    EXPECT_EQ(timer->Interval(), 1000);
    EXPECT_EQ(timer->Priority(), tpNormal);

    ASSERT_TRUE(ticks.WaitFor(3, 15s));
    for (int i = 1; i < 3; ++i) {
        EXPECT_GE(Since(ticks.ends[i - 1], ticks.starts[i]), 1000ms);
        EXPECT_LT(Since(ticks.ends[i - 1], ticks.starts[i]), 3000ms);
    }
    EXPECT_FALSE(ticks.offWindowThread);
    EXPECT_EQ(ticks.senders[0], timer);
}

// The wait counts from the end of the previous tick, and a handler that processes messages
// meanwhile never sees its own timer tick inside it.
TEST_F(ThreadedTimerTest, FixedDelayFromTheEndOfEachTickWithoutOverlap)
{
    TickLog ticks;
    ticks.body = [](int) { testapp::ProcessFor(250ms); };
    TThreadedTimer timer(nullptr);
    timer.SetInterval(100);
    timer.OnTimer = ticks.Handler();

    ASSERT_TRUE(ticks.WaitFor(4));
    for (int i = 1; i < 4; ++i)
        EXPECT_GE(Since(ticks.ends[i - 1], ticks.starts[i]), 100ms) << "tick " << i;
    EXPECT_FALSE(ticks.overlapped);
    EXPECT_FALSE(ticks.offWindowThread);
}

// Enabled false and Interval 0 both stop the timer; undoing either lets it go on.
TEST_F(ThreadedTimerTest, SwitchingOffStopsAndSwitchingOnContinues)
{
    struct Case
    {
        const char* name;
        std::function<void(TThreadedTimer&)> off;
        std::function<void(TThreadedTimer&)> on;
    };
    const std::vector<Case> cases = {
        {"Enabled", [](TThreadedTimer& t) { t.SetEnabled(false); },
         [](TThreadedTimer& t) { t.SetEnabled(true); }},
        {"Interval", [](TThreadedTimer& t) { t.SetInterval(0); },
         [](TThreadedTimer& t) { t.SetInterval(100); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TickLog ticks;
        TThreadedTimer timer(nullptr);
        timer.SetInterval(100);
        timer.OnTimer = ticks.Handler();
        ASSERT_TRUE(ticks.WaitFor(1));
        c.off(timer);
        const int atStop = ticks.Count();
        testapp::ProcessFor(300ms); // one tick already requested may still run
        const int settled = ticks.Count();
        EXPECT_LE(settled, atStop + 1);
        testapp::ProcessFor(500ms);
        EXPECT_EQ(ticks.Count(), settled);
        EXPECT_TRUE(timer.TimerThread()->Suspended());

        c.on(timer);
        EXPECT_FALSE(timer.TimerThread()->Suspended());
        EXPECT_TRUE(ticks.WaitFor(settled + 2));
    }
}

// A pause freezes the wait in progress with its end time: switched on before that end, the
// tick comes when the wait runs out; switched on after it, the tick comes at once. Neither
// waits a full interval from switching on.
TEST_F(ThreadedTimerTest, PauseKeepsTheEndOfTheInterruptedWait)
{
    struct Case
    {
        Ms offAfter;
        Ms onAfter;
    };
    const Case cases[] = {{200ms, 600ms}, {200ms, 2200ms}};
    const Ms interval = 1500ms;
    for (const Case& c : cases) {
        SCOPED_TRACE("on after " + std::to_string(c.onAfter.count()) + " ms");
        TickLog ticks;
        TThreadedTimer timer(nullptr);
        timer.SetInterval(static_cast<unsigned short>(interval.count()));
        timer.OnTimer = ticks.Handler();
        ASSERT_TRUE(ticks.WaitFor(1));
        const Clock::time_point tickEnd = ticks.ends[0];

        testapp::ProcessUntil([&] { return Clock::now() >= tickEnd + c.offAfter; }, 10s);
        timer.SetEnabled(false);
        testapp::ProcessUntil([&] { return Clock::now() >= tickEnd + c.onAfter; }, 10s);
        ASSERT_EQ(ticks.Count(), 1) << "switched off too late on a loaded machine";
        const Clock::time_point on = Clock::now();
        timer.SetEnabled(true);

        ASSERT_TRUE(ticks.WaitFor(2));
        EXPECT_GE(Since(tickEnd, ticks.starts[1]), interval);
        EXPECT_LT(Since(on, ticks.starts[1]), interval - 100ms);
    }
}

// A new Interval leaves the wait in progress as it is and shapes the waits after it.
TEST_F(ThreadedTimerTest, NewIntervalTakesEffectWithTheNextWait)
{
    TickLog ticks;
    TThreadedTimer timer(nullptr);
    timer.SetInterval(1200);
    ticks.body = [&](int tick) {
        if (tick == 1)
            timer.SetInterval(1000); // the worker's next wait is 1000
    };
    timer.OnTimer = ticks.Handler();
    ASSERT_TRUE(ticks.WaitFor(1));
    testapp::ProcessFor(100ms);
    timer.SetInterval(150); // during that wait
    ASSERT_TRUE(ticks.WaitFor(4));
    EXPECT_GE(Since(ticks.ends[0], ticks.starts[1]), 1000ms);
    for (int i = 2; i < 4; ++i) {
        EXPECT_GE(Since(ticks.ends[i - 1], ticks.starts[i]), 150ms);
        EXPECT_LT(Since(ticks.ends[i - 1], ticks.starts[i]), 900ms);
    }
}

// Switched off inside its own tick: no further tick; switched on again, the next tick
// follows a full interval later (a fresh wait, not the stale one).
TEST_F(ThreadedTimerTest, SwitchOffInsideTheTickThenOnWaitsAFullInterval)
{
    struct Case
    {
        const char* name;
        std::function<void(TThreadedTimer&)> off;
        std::function<void(TThreadedTimer&)> on;
    };
    const std::vector<Case> cases = {
        {"Enabled", [](TThreadedTimer& t) { t.SetEnabled(false); },
         [](TThreadedTimer& t) { t.SetEnabled(true); }},
        {"Interval", [](TThreadedTimer& t) { t.SetInterval(0); },
         [](TThreadedTimer& t) { t.SetInterval(400); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TickLog ticks;
        TThreadedTimer timer(nullptr);
        timer.SetInterval(400);
        ticks.body = [&](int tick) {
            if (tick == 1)
                c.off(timer);
        };
        timer.OnTimer = ticks.Handler();
        ASSERT_TRUE(ticks.WaitFor(1));
        testapp::ProcessFor(1000ms);
        EXPECT_EQ(ticks.Count(), 1);

        const Clock::time_point on = Clock::now();
        c.on(timer);
        ASSERT_TRUE(ticks.WaitFor(2));
        EXPECT_GE(Since(on, ticks.starts[1]), 400ms);
    }
}

// A tick the worker requested before the timer was switched off still runs once; the worker
// then stays paused and, switched on again, starts a fresh wait.
TEST_F(ThreadedTimerTest, TickRequestedBeforeSwitchOffRunsOnceThenWaitsAFreshInterval)
{
    TickLog ticks;
    TThreadedTimer timer(nullptr);
    timer.SetInterval(400);
    timer.OnTimer = ticks.Handler();
    // The first wait may still be one of the default length; from the first tick on the
    // waits are 400 ms.
    ASSERT_TRUE(ticks.WaitFor(1));
    QThread::msleep(900); // the window's thread is busy: the next request waits for it
    timer.SetEnabled(false);
    ASSERT_TRUE(ticks.WaitFor(2));
    testapp::ProcessFor(1000ms);
    EXPECT_EQ(ticks.Count(), 2);

    const Clock::time_point on = Clock::now();
    timer.SetEnabled(true);
    ASSERT_TRUE(ticks.WaitFor(3));
    EXPECT_GE(Since(on, ticks.starts[2]), 400ms);
}

// Setting a property to the value it has changes nothing: a stopped timer stays stopped, a
// running one keeps the end of its wait.
TEST_F(ThreadedTimerTest, EqualValuesChangeNothing)
{
    TickLog ticks;
    TThreadedTimer timer(nullptr);
    timer.SetInterval(600);
    timer.OnTimer = ticks.Handler();
    ASSERT_TRUE(ticks.WaitFor(1));
    const Clock::time_point tickEnd = ticks.ends[0];
    for (int i = 0; i < 20; ++i) {
        timer.SetEnabled(true);
        timer.SetInterval(600);
        timer.SetThreadPriority(tpNormal);
        EXPECT_FALSE(timer.TimerThread()->Suspended());
        testapp::ProcessFor(10ms);
    }
    ASSERT_TRUE(ticks.WaitFor(2));
    EXPECT_GE(Since(tickEnd, ticks.starts[1]), 600ms);
    EXPECT_LT(Since(tickEnd, ticks.starts[1]), 1500ms);

    timer.SetEnabled(false);
    testapp::ProcessFor(200ms);
    const int stopped = ticks.Count();
    timer.SetEnabled(false);
    timer.SetInterval(600);
    timer.SetThreadPriority(tpNormal);
    EXPECT_TRUE(timer.TimerThread()->Suspended());
    testapp::ProcessFor(1000ms);
    EXPECT_EQ(ticks.Count(), stopped);
}

// No OnTimer call once destruction has begun, whatever the worker was doing; the destructor
// never waits for the worker's sleep or for the window's thread.
TEST_F(ThreadedTimerTest, DestructionRunsNoFurtherTickAndDoesNotBlock)
{
    struct Case
    {
        const char* name;
        unsigned short interval; // from the first tick on
        bool enabled;
        Ms before; // then the window's thread is busy, not processing messages
    };
    const Case cases[] = {
        {"tick requested and pending", 50, true, 400ms},
        {"worker sleeping a long wait", 30000, true, 50ms},
        {"worker paused", 50, false, 200ms},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int calls = 0;
        auto timer = std::make_unique<TThreadedTimer>(nullptr);
        timer->SetInterval(50);
        timer->OnTimer = [&](TObject*) {
            if (++calls == 1) {
                timer->SetInterval(c.interval);
                timer->SetEnabled(c.enabled);
            }
        };
        ASSERT_TRUE(testapp::ProcessUntil([&] { return calls > 0; }, 10s));
        QThread::msleep(static_cast<unsigned long>(c.before.count()));
        const Clock::time_point begin = Clock::now();
        timer.reset();
        EXPECT_LT(Since(begin, Clock::now()), 5000ms);
        testapp::ProcessFor(300ms);
        EXPECT_EQ(calls, 1);
    }
}

TEST_F(ThreadedTimerTest, DestroyedWithItsOwner)
{
    int calls = 0;
    auto owner = std::make_unique<QObject>();
    QPointer<TThreadedTimer> timer = new TThreadedTimer(owner.get());
    timer->SetInterval(50);
    timer->OnTimer = [&](TObject*) { ++calls; };
    ASSERT_TRUE(testapp::ProcessUntil([&] { return calls > 0; }, 10s));
    QThread::msleep(200); // let a tick request wait
    owner.reset();
    EXPECT_TRUE(timer.isNull());
    const int atDestruction = calls;
    testapp::ProcessFor(300ms);
    EXPECT_EQ(calls, atDestruction);
}

TEST_F(ThreadedTimerTest, DestroyedInsideItsOwnTick)
{
    int calls = 0;
    auto* timer = new TThreadedTimer(nullptr);
    timer->SetInterval(50);
    timer->OnTimer = [&calls](TObject* sender) {
        ++calls;
        delete static_cast<TThreadedTimer*>(sender);
        testapp::ProcessFor(100ms); // a nested loop while the worker still waits
    };
    ASSERT_TRUE(testapp::ProcessUntil([&] { return calls > 0; }, 10s));
    testapp::ProcessFor(400ms);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(testapp::ShownExceptions().empty());
}

// An exception that leaves the handler is shown to the operator and the timer goes on.
TEST_F(ThreadedTimerTest, ExceptionFromTheHandlerIsShownAndTicksContinue)
{
    struct Case
    {
        const char* name;
        std::function<void()> raise;
        AnsiString shown;
    };
    const std::vector<Case> cases = {
        {"Exception", [] { throw Exception("Send Error: 5"); }, "Send Error: 5"},
        {"unknown", [] { throw 42; }, "Unknown error in a timer's tick handler."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testapp::ResetRecorders();
        TickLog ticks;
        ticks.body = [&](int tick) {
            if (tick <= 2)
                c.raise();
        };
        TThreadedTimer timer(nullptr);
        timer.SetInterval(50);
        timer.OnTimer = ticks.Handler();
        ASSERT_TRUE(ticks.WaitFor(4));
        ASSERT_GE(testapp::ShownExceptions().size(), 2u);
        EXPECT_EQ(testapp::ShownExceptions()[0], c.shown);
        EXPECT_EQ(testapp::ShownExceptions()[1], c.shown);
        EXPECT_EQ(testapp::ShownExceptions().size(), 2u);
    }
}

// The worker calls the most derived tick; with OnTimer unassigned the base tick is empty.
class CountingTimer : public TThreadedTimer
{
public:
    using TThreadedTimer::TThreadedTimer;
    void Timer() override
    {
        ++ticks;
        TThreadedTimer::Timer();
    }
    int ticks = 0;
};

TEST_F(ThreadedTimerTest, DerivedTickRunsWithOnTimerUnassigned)
{
    CountingTimer timer(nullptr);
    timer.SetInterval(50);
    EXPECT_TRUE(testapp::ProcessUntil([&] { return timer.ticks >= 3; }, 10s));
}

// A new Priority reaches the worker at the start of its next round.
TEST_F(ThreadedTimerTest, PriorityReachesTheWorkerAtItsNextRound)
{
    TickLog ticks;
    TThreadedTimer timer(nullptr);
    timer.SetInterval(50);
    std::vector<TThreadPriority> seen;
    ticks.body = [&](int tick) {
        seen.push_back(timer.TimerThread()->Priority());
        if (tick == 1)
            timer.SetThreadPriority(tpLowest);
    };
    timer.OnTimer = ticks.Handler();
    ASSERT_TRUE(ticks.WaitFor(2));
    EXPECT_EQ(timer.Priority(), tpLowest);
    EXPECT_EQ(seen[0], tpNormal);
    EXPECT_EQ(seen[1], tpLowest);
}

} // namespace
