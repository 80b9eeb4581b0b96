#include "platform/SerialInputQueue.h"

#include <algorithm>

bool SerialInputQueue::Resize(std::size_t capacity)
{
    std::vector<char> bytes(size_);
    std::deque<Chunk> chunks = chunks_;
    Copy(bytes.data(), size_);
    const bool fits = size_ <= capacity;
    std::size_t keep = std::min(size_, capacity);
    buf_.assign(capacity, 0);
    std::copy_n(bytes.data(), keep, buf_.data());
    head_ = 0;
    size_ = keep;
    chunks_.clear();
    for (const auto& c : chunks) {
        if (keep == 0)
            break;
        const std::size_t n = std::min(c.count, keep);
        chunks_.push_back({n, c.time});
        keep -= n;
    }
    return fits;
}

std::size_t SerialInputQueue::Push(const char* data, std::size_t count, Clock::time_point time)
{
    const std::size_t n = std::min(count, Free());
    if (n == 0)
        return 0;
    std::size_t tail = (head_ + size_) % buf_.size();
    const std::size_t first = std::min(n, buf_.size() - tail);
    std::copy_n(data, first, buf_.data() + tail);
    std::copy_n(data + first, n - first, buf_.data());
    size_ += n;
    if (!chunks_.empty() && chunks_.back().time == time)
        chunks_.back().count += n;
    else
        chunks_.push_back({n, time});
    return n;
}

bool SerialInputQueue::TakePacket(char* out, std::size_t size, std::size_t* taken,
                                  Clock::duration interval, Clock::time_point* lastArrival)
{
    while (*taken < size && size_ > 0) {
        const auto arrived = chunks_.front().time;
        if (*taken > 0 && interval.count() > 0 && arrived - *lastArrival > interval)
            return true; // the line paused here before the read came for the bytes
        *taken += PopChunk(out + *taken, size - *taken);
        *lastArrival = arrived;
    }
    return false;
}

void SerialInputQueue::Clear()
{
    head_ = 0;
    size_ = 0;
    chunks_.clear();
}

std::size_t SerialInputQueue::PopChunk(char* out, std::size_t count)
{
    Chunk& c = chunks_.front();
    const std::size_t n = std::min(count, c.count);
    Copy(out, n);
    head_ = (head_ + n) % buf_.size();
    size_ -= n;
    c.count -= n;
    if (c.count == 0)
        chunks_.pop_front();
    return n;
}

void SerialInputQueue::Copy(char* out, std::size_t n) const
{
    const std::size_t first = std::min(n, buf_.size() - head_);
    std::copy_n(buf_.data() + head_, first, out);
    std::copy_n(buf_.data(), n - first, out + first);
}
