// The serial driver's input queue without a device: packet boundaries found from the
// arrival times after the fact, overflow, wrap-around and resizing.
#include "platform/SerialInputQueue.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = SerialInputQueue::Clock;

const Clock::time_point kT0 = Clock::now();

struct Arrival
{
    int atMs;
    std::string bytes;
};

void PushAll(SerialInputQueue& q, const std::vector<Arrival>& arrivals)
{
    for (const auto& a : arrivals)
        ASSERT_EQ(q.Push(a.bytes.data(), a.bytes.size(), kT0 + std::chrono::milliseconds(a.atMs)),
                  a.bytes.size());
}

// One read of up to `size` bytes of what is queued, as a reader that comes late takes it.
std::string TakeOne(SerialInputQueue& q, std::size_t size, Clock::duration interval,
                    bool* pause = nullptr)
{
    std::string out(size, '\0');
    std::size_t taken = 0;
    Clock::time_point last{};
    const bool paused = q.TakePacket(out.data(), size, &taken, interval, &last);
    if (pause)
        *pause = paused;
    out.resize(taken);
    return out;
}

std::vector<std::string> TakeAll(SerialInputQueue& q, std::size_t size, Clock::duration interval)
{
    std::vector<std::string> packets;
    while (q.Size() > 0)
        packets.push_back(TakeOne(q, size, interval));
    return packets;
}

TEST(SerialInputQueueTest, PausesLongerThanTheIntervalSeparateThePackets)
{
    const struct
    {
        const char* what;
        std::vector<Arrival> arrivals;
        std::chrono::milliseconds interval;
        std::size_t size;
        std::vector<std::string> packets;
    } cases[] = {
        {"gaps within the interval", {{0, "ab"}, {1, "cd"}, {2, "ef"}}, 2ms, 160, {"abcdef"}},
        {"a long pause", {{0, "first"}, {30, "second"}}, 2ms, 160, {"first", "second"}},
        {"a gap of exactly the interval", {{0, "a"}, {2, "b"}}, 2ms, 160, {"ab"}},
        {"a gap just over the interval", {{0, "a"}, {3, "b"}}, 2ms, 160, {"a", "b"}},
        {"each gap counts from the byte before", {{0, "a"}, {2, "b"}, {4, "c"}}, 2ms, 160, {"abc"}},
        {"no interval limit", {{0, "a"}, {1000, "b"}}, 0ms, 160, {"ab"}},
        {"a full packet",
         {{0, std::string(400, 'x')}},
         2ms,
         160,
         {std::string(160, 'x'), std::string(160, 'x'), std::string(80, 'x')}},
        {"a split chunk keeps its time", {{0, "abcdef"}, {1, "gh"}}, 2ms, 4, {"abcd", "efgh"}},
        {"a split chunk then a pause", {{0, "abcdef"}, {10, "gh"}}, 2ms, 4, {"abcd", "ef", "gh"}},
        {"zero bytes are data",
         {{0, std::string("a\0b", 3)}, {9, std::string("\0", 1)}},
         2ms,
         160,
         {std::string("a\0b", 3), std::string("\0", 1)}},
    };
    for (const auto& c : cases) {
        SerialInputQueue q(4096);
        PushAll(q, c.arrivals);
        EXPECT_EQ(TakeAll(q, c.size, c.interval), c.packets) << c.what;
    }
}

TEST(SerialInputQueueTest, AReadWaitingForBytesGoesOnUntilAPause)
{
    SerialInputQueue q(64);
    char out[16];
    std::size_t taken = 0;
    Clock::time_point last{};
    EXPECT_FALSE(q.TakePacket(out, sizeof out, &taken, 2ms, &last)); // nothing yet
    EXPECT_EQ(taken, 0u);
    q.Push("ab", 2, kT0);
    EXPECT_FALSE(q.TakePacket(out, sizeof out, &taken, 2ms, &last));
    q.Push("cd", 2, kT0 + 1ms);
    EXPECT_FALSE(q.TakePacket(out, sizeof out, &taken, 2ms, &last));
    EXPECT_EQ(last, kT0 + 1ms);
    q.Push("ef", 2, kT0 + 10ms);
    EXPECT_TRUE(q.TakePacket(out, sizeof out, &taken, 2ms, &last));
    EXPECT_EQ(std::string(out, taken), "abcd");
    EXPECT_EQ(q.Size(), 2u); // "ef" waits for the next read
    bool pause = true;
    EXPECT_EQ(TakeOne(q, 16, 2ms, &pause), "ef");
    EXPECT_FALSE(pause);
}

TEST(SerialInputQueueTest, OverflowKeepsTheOldestBytesAndTakesNoMore)
{
    SerialInputQueue q(16);
    std::string bytes;
    for (char c = 'A'; c < 'A' + 40; ++c)
        bytes += c;
    EXPECT_EQ(q.Push(bytes.data(), bytes.size(), kT0), 16u);
    EXPECT_EQ(q.Size(), 16u);
    EXPECT_EQ(q.Free(), 0u);
    EXPECT_EQ(q.Push("z", 1, kT0 + 1ms), 0u);
    EXPECT_EQ(TakeOne(q, 160, 2ms), bytes.substr(0, 16));
    EXPECT_EQ(q.Free(), 16u);
}

TEST(SerialInputQueueTest, BytesWrapAroundTheRingInOrder)
{
    SerialInputQueue q(8);
    PushAll(q, {{0, "012345"}});
    EXPECT_EQ(TakeOne(q, 4, 0ms), "0123");
    EXPECT_EQ(q.Push("6789ab", 6, kT0 + 1ms), 6u); // wraps past the end of the ring
    EXPECT_EQ(q.Free(), 0u);
    EXPECT_EQ(TakeOne(q, 160, 2ms), "456789ab");
}

TEST(SerialInputQueueTest, ResizingKeepsTheOldestBytesWithTheirArrivalTimes)
{
    SerialInputQueue q(8);
    PushAll(q, {{0, "01234"}});
    TakeOne(q, 3, 0ms);
    PushAll(q, {{0, "abc"}, {30, "de"}}); // "34abcde" wraps

    EXPECT_TRUE(q.Resize(64)); // larger: all kept
    EXPECT_EQ(q.Capacity(), 64u);
    EXPECT_EQ(q.Size(), 7u);
    SerialInputQueue copy = q;
    EXPECT_EQ(TakeAll(copy, 160, 2ms), (std::vector<std::string>{"34abc", "de"}));

    EXPECT_FALSE(q.Resize(6)); // smaller: the newest byte is dropped
    EXPECT_EQ(q.Size(), 6u);
    EXPECT_EQ(q.Free(), 0u);
    EXPECT_EQ(TakeAll(q, 160, 2ms), (std::vector<std::string>{"34abc", "d"}));
    EXPECT_EQ(q.Push("xyz", 3, kT0 + 40ms), 3u);
    EXPECT_EQ(TakeOne(q, 160, 2ms), "xyz");
}

// A queue of 4 GiB (the largest BufSize) holds what it is given, growing as it fills, with
// bytes that wrap around the ring kept in order across each growth.
TEST(SerialInputQueueTest, AHugeQueueGrowsAsItFillsAndKeepsTheOrder)
{
    SerialInputQueue q(0xFFFFFFFFu);
    EXPECT_EQ(q.Capacity(), 0xFFFFFFFFu);
    std::string sent;
    std::string taken;
    for (int round = 0; round < 40; ++round) {
        std::string chunk(1000 + 997 * round, '\0');
        for (std::size_t i = 0; i < chunk.size(); ++i)
            chunk[i] = char('a' + (sent.size() + i) % 26);
        ASSERT_EQ(q.Push(chunk.data(), chunk.size(), kT0), chunk.size());
        sent += chunk;
        taken += TakeOne(q, chunk.size() / 2, 0ms); // leaves the rest to wrap around
    }
    while (q.Size() > 0)
        taken += TakeOne(q, 4096, 0ms);
    EXPECT_EQ(taken, sent);
    EXPECT_EQ(q.Free(), 0xFFFFFFFFu);
}

TEST(SerialInputQueueTest, ClearEmptiesTheQueue)
{
    SerialInputQueue q(8);
    PushAll(q, {{0, "old"}, {5, "er"}});
    q.Clear();
    EXPECT_EQ(q.Size(), 0u);
    EXPECT_EQ(q.Free(), 8u);
    PushAll(q, {{9, "new"}});
    EXPECT_EQ(TakeAll(q, 160, 2ms), (std::vector<std::string>{"new"}));
}

} // namespace
