// The unit's receive buffer: fill, drain at the programming rate, XOFF/XON thresholds and the
// counters that judge the sender. Time is given explicitly, so nothing here sleeps.
#include "sim/FlowControl.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Clock = FlowControl::Clock;

FlowSettings Settings(bool paced)
{
    FlowSettings s;
    s.buffer = 100;
    s.xoffAt = 75;
    s.xonAt = 25;
    s.programRate = 1000; // one byte a millisecond
    s.paced = paced;
    s.reaction = 20ms;
    return s;
}

TEST(SimFlowControl, SendsXoffAtTheHighMarkAndXonAtTheLowMark)
{
    const auto t0 = Clock::now();
    FlowControl flow(Settings(true), t0);
    flow.Arrive(std::string(74, 'a'), t0);
    EXPECT_EQ(flow.Decide(t0), FlowControl::Signal::None);
    flow.Arrive("b", t0);
    EXPECT_EQ(flow.Decide(t0), FlowControl::Signal::Xoff);
    EXPECT_EQ(flow.Decide(t0), FlowControl::Signal::None); // reported once
    EXPECT_TRUE(flow.XoffStanding());
    EXPECT_EQ(flow.XoffSent(), 1u);

    // 49 ms drain 49 bytes: fill 26, still held; one more millisecond releases.
    EXPECT_EQ(flow.Drain(t0 + 49ms), std::string(49, 'a'));
    EXPECT_EQ(flow.Fill(), 26u);
    EXPECT_EQ(flow.Decide(t0 + 49ms), FlowControl::Signal::None);
    EXPECT_EQ(flow.Drain(t0 + 50ms).size(), 1u);
    EXPECT_EQ(flow.Decide(t0 + 50ms), FlowControl::Signal::Xon);
    EXPECT_FALSE(flow.XoffStanding());
    EXPECT_EQ(flow.MaxFill(), 75u);
    EXPECT_EQ(flow.OverrunBytes(), 0u);
}

TEST(SimFlowControl, DrainsInOrderAtTheProgramRateWithoutCreditWhileEmpty)
{
    const auto t0 = Clock::now();
    FlowControl flow(Settings(true), t0);
    EXPECT_EQ(flow.Drain(t0 + 1s), ""); // empty: the flash idles
    EXPECT_EQ(flow.NextDrainTime(), Clock::time_point::max());
    flow.Arrive("0123456789", t0 + 1s);
    EXPECT_EQ(flow.Drain(t0 + 1s + 3500us), "012"); // no credit from the idle second
    EXPECT_EQ(flow.Drain(t0 + 1s + 4ms), "3");
    EXPECT_EQ(flow.NextDrainTime(), t0 + 1s + 5ms);
    EXPECT_EQ(flow.Drain(t0 + 2s), "456789");
    EXPECT_EQ(flow.Fill(), 0u);
}

TEST(SimFlowControl, CountsBytesThatFindTheBufferFullAsOverrun)
{
    const auto t0 = Clock::now();
    FlowControl flow(Settings(true), t0);
    flow.Arrive(std::string(90, 'a'), t0);
    flow.Decide(t0);
    flow.Arrive(std::string(15, 'b'), t0);
    EXPECT_EQ(flow.Fill(), 100u);
    EXPECT_EQ(flow.OverrunBytes(), 5u);
    EXPECT_EQ(flow.MaxFill(), 100u);
}

TEST(SimFlowControl, PacedUnitTakesOnlyItsFifoAfterXoff)
{
    const auto t0 = Clock::now();
    FlowControl flow(Settings(true), t0);
    // Before the XOFF: up to the high mark and the allowance after it, however many bytes
    // wait, as they came one by one on the line.
    EXPECT_EQ(flow.MayTake(), 75 + FlowControl::kAfterXoffAllowance);
    flow.Arrive(std::string(30, 'a'), t0);
    EXPECT_EQ(flow.MayTake(), 45 + FlowControl::kAfterXoffAllowance);
    flow.Arrive(std::string(45, 'a'), t0);
    ASSERT_EQ(flow.Decide(t0), FlowControl::Signal::Xoff);
    EXPECT_EQ(flow.MayTake(), FlowControl::kAfterXoffAllowance);
    flow.Arrive(std::string(10, 'a'), t0 + 100ms);
    EXPECT_EQ(flow.MayTake(), FlowControl::kAfterXoffAllowance - 10);
    flow.Arrive(std::string(8, 'a'), t0 + 100ms);
    EXPECT_EQ(flow.MayTake(), 0u);
    EXPECT_EQ(flow.BytesAfterXoff(), 0u); // paced: not judged
}

TEST(SimFlowControl, UnpacedUnitCountsBytesAfterTheReactionTime)
{
    const auto t0 = Clock::now();
    FlowControl flow(Settings(false), t0);
    flow.Arrive(std::string(80, 'a'), t0);
    ASSERT_EQ(flow.Decide(t0), FlowControl::Signal::Xoff);
    EXPECT_EQ(flow.MayTake(), SIZE_MAX);
    // Within the reaction time: taken even past the buffer's size, neither counted.
    flow.Arrive(std::string(40, 'b'), t0 + 20ms);
    EXPECT_EQ(flow.Fill(), 120u);
    EXPECT_EQ(flow.BytesAfterXoff(), 0u);
    EXPECT_EQ(flow.OverrunBytes(), 0u);
    // Later: counted, and overrun while the buffer is full.
    flow.Drain(t0 + 30ms); // 30 bytes programmed: fill 90
    flow.Arrive(std::string(15, 'c'), t0 + 30ms);
    EXPECT_EQ(flow.BytesAfterXoff(), 15u);
    EXPECT_EQ(flow.OverrunBytes(), 5u);
    // After XON nothing more is counted.
    flow.Drain(t0 + 200ms);
    ASSERT_EQ(flow.Decide(t0 + 200ms), FlowControl::Signal::Xon);
    flow.Arrive("d", t0 + 300ms);
    EXPECT_EQ(flow.BytesAfterXoff(), 15u);
}

TEST(SimFlowControl, BurstDecidesXoffAtTheByteThatReachesTheHighMark)
{
    const auto t0 = Clock::now();
    // Unpaced: the rest of the burst came with the XOFF, inside the reaction time.
    FlowControl unpaced(Settings(false), t0);
    unpaced.Arrive(std::string(300, 'a'), t0);
    EXPECT_EQ(unpaced.Decide(t0), FlowControl::Signal::Xoff);
    EXPECT_EQ(unpaced.Fill(), 300u);
    EXPECT_EQ(unpaced.OverrunBytes(), 0u);
    EXPECT_EQ(unpaced.BytesAfterXoff(), 0u);
    // Paced: the 25 bytes past the mark are part of what the receiver already held.
    FlowControl paced(Settings(true), t0);
    paced.Arrive(std::string(100, 'a'), t0);
    EXPECT_EQ(paced.Decide(t0), FlowControl::Signal::Xoff);
    EXPECT_EQ(paced.MayTake(), 0u);
    EXPECT_EQ(paced.Fill(), 100u);
}

TEST(SimFlowControl, NeverXonHoldsForeverAndSendsXoffOnce)
{
    auto s = Settings(true);
    s.neverXon = true;
    const auto t0 = Clock::now();
    FlowControl flow(s, t0);
    flow.Arrive(std::string(80, 'a'), t0);
    ASSERT_EQ(flow.Decide(t0), FlowControl::Signal::Xoff);
    flow.Drain(t0 + 1s);
    EXPECT_EQ(flow.Fill(), 0u);
    EXPECT_EQ(flow.Decide(t0 + 1s), FlowControl::Signal::None);
    EXPECT_TRUE(flow.XoffStanding());
    EXPECT_EQ(flow.XoffSent(), 1u);
    // Release() is how a unit lets go when a download ends early.
    EXPECT_TRUE(flow.Release());
    EXPECT_FALSE(flow.Release());
}

} // namespace
