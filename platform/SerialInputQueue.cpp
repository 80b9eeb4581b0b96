#include "platform/SerialInputQueue.h"

#include <algorithm>
#include <new>

namespace {

// The smallest step of the ring's growth.
constexpr std::size_t kMinBuffer = 4096;

} // namespace

bool SerialInputQueue::Resize(std::size_t capacity)
{
    const bool fits = size_ <= capacity;
    std::size_t keep = std::min(size_, capacity);
    if (buf_.size() > capacity) {
        const std::size_t size = size_;
        size_ = keep; // Reallocate copies only the bytes kept
        try {
            Reallocate(capacity);
        } catch (...) {
            size_ = size;
            throw;
        }
    }
    size_ = keep;
    capacity_ = capacity;
    std::deque<Chunk> chunks;
    chunks.swap(chunks_);
    for (const auto& c : chunks) {
        if (keep == 0)
            break;
        const std::size_t n = std::min(c.count, keep);
        chunks_.push_back({n, c.time});
        keep -= n;
    }
    return fits;
}

void SerialInputQueue::Reallocate(std::size_t size)
{
    std::vector<char> bytes(size);
    Copy(bytes.data(), size_);
    buf_.swap(bytes);
    head_ = 0;
}

bool SerialInputQueue::Grow(std::size_t need)
{
    if (need <= buf_.size())
        return true;
    const std::size_t doubled = buf_.size() > capacity_ / 2 ? capacity_ : buf_.size() * 2;
    try {
        Reallocate(std::min(capacity_, std::max({need, doubled, kMinBuffer})));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

std::size_t SerialInputQueue::Push(const char* data, std::size_t count, Clock::time_point time)
{
    std::size_t n = std::min(count, Free());
    if (!Grow(size_ + n))
        n = buf_.size() - size_;
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
    if (n == 0)
        return;
    const std::size_t first = std::min(n, buf_.size() - head_);
    std::copy_n(buf_.data() + head_, first, out);
    std::copy_n(buf_.data(), n - first, out + first);
}
