#include "sim/FlowControl.h"

#include <algorithm>
#include <cmath>

FlowControl::FlowControl(const FlowSettings& settings, Clock::time_point start)
    : s_(settings), drainEpoch_(start)
{
}

void FlowControl::Arrive(std::string_view bytes, Clock::time_point now)
{
    if (bytes.empty())
        return;
    if (Held() == 0) {
        // The flash idled while the buffer was empty: it starts on these bytes now.
        drainEpoch_ = now;
        drained_ = 0;
    }
    if (!xoffStanding_ && Held() < s_.xoffAt) {
        // Bytes up to the high mark fit; the unit decides on XOFF right at the byte that
        // reaches it, so the rest of a burst that arrived at once counts from that moment.
        const std::size_t below = std::min(bytes.size(), s_.xoffAt - Held());
        data_.append(bytes.substr(0, below));
        bytes.remove_prefix(below);
        maxFill_ = std::max(maxFill_, Held());
        CheckXoff(now);
        if (bytes.empty())
            return;
    }
    // Callers drain first, so the fill these bytes meet is the current one.
    const std::size_t room = s_.buffer > Held() ? s_.buffer - Held() : 0;
    std::size_t accept = std::min(room, bytes.size());
    if (xoffStanding_) {
        takenSinceXoff_ += bytes.size();
        if (!s_.paced) {
            if (now - xoffAt_ <= s_.reaction) {
                // Within the sender's reaction time: a line of no speed delivers these at
                // once, so the buffer takes them even past its size.
                accept = bytes.size();
            } else {
                afterXoff_ += bytes.size();
            }
        }
    }
    overrun_ += bytes.size() - accept;
    data_.append(bytes.substr(0, accept));
    maxFill_ = std::max(maxFill_, Held());
}

void FlowControl::CheckXoff(Clock::time_point now)
{
    if (!xoffStanding_ && Held() >= s_.xoffAt && !(s_.neverXon && xoffEverSent_)) {
        xoffStanding_ = true;
        xoffEverSent_ = true;
        xoffPending_ = true;
        xoffAt_ = now;
        takenSinceXoff_ = 0;
        ++xoffSent_;
    }
}

std::string FlowControl::Drain(Clock::time_point now)
{
    if (Held() == 0 || now <= drainEpoch_)
        return {};
    const double ns = static_cast<double>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(now - drainEpoch_).count());
    const auto due = static_cast<std::uint64_t>(std::floor(ns * s_.programRate / 1e9));
    const std::size_t take =
        due > drained_ ? static_cast<std::size_t>(std::min<std::uint64_t>(due - drained_, Held()))
                       : 0;
    std::string out = data_.substr(head_, take);
    head_ += take;
    drained_ += take;
    if (Held() == 0) {
        data_.clear();
        head_ = 0;
    } else if (head_ > 65536) {
        data_.erase(0, head_);
        head_ = 0;
    }
    return out;
}

FlowControl::Signal FlowControl::Decide(Clock::time_point now)
{
    CheckXoff(now);
    if (xoffPending_) {
        xoffPending_ = false;
        return Signal::Xoff;
    }
    if (xoffStanding_ && Held() <= s_.xonAt && !s_.neverXon) {
        xoffStanding_ = false;
        return Signal::Xon;
    }
    return Signal::None;
}

bool FlowControl::Release()
{
    const bool was = xoffStanding_ && !xoffPending_;
    xoffStanding_ = false;
    xoffPending_ = false;
    return was;
}

std::size_t FlowControl::MayTake() const
{
    if (!s_.paced)
        return SIZE_MAX;
    if (!xoffStanding_) {
        // Up to the byte that reaches the high mark, and what the receiver holds after it:
        // bytes that a late unit finds waiting came one by one on the line, so the unit
        // would have decided its XOFF at that byte, however late it reads them.
        return (s_.xoffAt > Held() ? s_.xoffAt - Held() : 0) + kAfterXoffAllowance;
    }
    return takenSinceXoff_ >= kAfterXoffAllowance ? 0 : kAfterXoffAllowance - takenSinceXoff_;
}

FlowControl::Clock::time_point FlowControl::NextDrainTime() const
{
    if (Held() == 0)
        return Clock::time_point::max();
    const double ns = std::ceil(static_cast<double>(drained_ + 1) * 1e9 / s_.programRate);
    return drainEpoch_ + std::chrono::nanoseconds(static_cast<std::int64_t>(ns));
}
