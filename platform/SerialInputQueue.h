// The serial driver's input queue: a ring of received bytes that keeps the arrival time of
// each chunk, so that a read finds the pauses on the line (the packet boundaries) after the
// fact, even when it comes for the bytes late. Not synchronised: the driver's lock guards it.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <vector>

class SerialInputQueue
{
public:
    using Clock = std::chrono::steady_clock;

    // Memory is taken as bytes fill the queue, not for its whole capacity at once: a queue
    // of gigabytes costs only what it holds.
    explicit SerialInputQueue(std::size_t capacity) : capacity_(capacity) {}

    std::size_t Size() const { return size_; }
    std::size_t Capacity() const { return capacity_; }
    std::size_t Free() const { return capacity_ - size_; }

    // Changes the capacity, keeping the oldest bytes that fit with their arrival times;
    // returns false when bytes had to be dropped. May throw std::bad_alloc, leaving the
    // queue as it was.
    bool Resize(std::size_t capacity);

    // Appends up to Free() bytes that arrived at `time`; returns how many were taken (the
    // caller counts the rest as an overflow, also when the memory to hold them cannot be
    // had).
    std::size_t Push(const char* data, std::size_t count, Clock::time_point time);

    // Moves the oldest bytes to out[*taken] onwards until *taken reaches `size`, the queue
    // is empty, or the next byte arrived more than `interval` after the byte taken before
    // it (a pause on the line; a zero interval never pauses). *lastArrival is the arrival
    // time of the last byte taken. A read calls this again as bytes arrive, with the same
    // *taken and *lastArrival. Returns true when a pause ends the packet.
    bool TakePacket(char* out, std::size_t size, std::size_t* taken, Clock::duration interval,
                    Clock::time_point* lastArrival);

    void Clear();

private:
    struct Chunk
    {
        std::size_t count;
        Clock::time_point time;
    };

    // Takes up to `count` bytes of the oldest chunk; only when not empty.
    std::size_t PopChunk(char* out, std::size_t count);
    void Copy(char* out, std::size_t n) const;
    // A buffer of `size` bytes (at least Size()) holding the queue's bytes from its start.
    void Reallocate(std::size_t size);
    // Makes room for `need` bytes in all, within the capacity; false when the memory cannot
    // be had.
    bool Grow(std::size_t need);

    std::size_t capacity_;
    std::vector<char> buf_; // the ring; grows toward capacity_ as the queue fills
    std::size_t head_ = 0;
    std::size_t size_ = 0;
    std::deque<Chunk> chunks_;
};
