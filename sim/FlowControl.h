// The unit's receive buffer during a download: bytes taken off the line fill it, the flash
// drains it at the programming rate, and its fill decides when the unit sends XOFF and XON.
// It also keeps the counters that show how well the sender honours the flow control.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct FlowSettings
{
    std::size_t buffer = 1024;
    std::size_t xoffAt = 768;
    std::size_t xonAt = 256;
    double programRate = 4000; // bytes per second the flash takes
    // Paced: the line has a speed, so a sender held by XOFF stops the bytes in the line
    // itself and the unit takes only what its receiver already holds (kAfterXoffAllowance).
    // Unpaced: every byte is taken as it comes, and those that come later than
    // `reaction` after an XOFF are counted as sent after it.
    bool paced = true;
    std::chrono::milliseconds reaction{20};
    bool neverXon = false; // send XOFF once and never release it
};

class FlowControl
{
public:
    using Clock = std::chrono::steady_clock;
    // While its XOFF stands, a paced unit still takes this many bytes: two character times
    // on the wire plus a 16-byte receive FIFO.
    static constexpr std::size_t kAfterXoffAllowance = 2 + 16;

    enum class Signal
    {
        None,
        Xoff,
        Xon
    };

    explicit FlowControl(const FlowSettings& settings, Clock::time_point start);

    // Bytes taken off the line at `now`. The XOFF is decided at the byte that reaches the
    // high mark (Decide() reports it). Bytes that find the buffer full are dropped and counted
    // as overrun.
    void Arrive(std::string_view bytes, Clock::time_point now);
    // What the flash has taken from the buffer up to `now`, oldest first.
    std::string Drain(Clock::time_point now);
    // After Arrive or Drain: the flow-control byte to send now, if any (each is reported
    // once; the XOFF is counted in XoffSent()).
    Signal Decide(Clock::time_point now);
    // Releases a standing XOFF whatever the fill (when the download ends early); returns
    // true when an XON must be sent.
    bool Release();

    // How many more bytes the unit may take off the line at once. Paced: up to the high mark
    // plus kAfterXoffAllowance while no XOFF stands, then what is left of the allowance;
    // unpaced: no limit.
    std::size_t MayTake() const;
    // When the next buffered byte will have been programmed (Clock::time_point::max() when
    // the buffer is empty).
    Clock::time_point NextDrainTime() const;

    bool XoffStanding() const { return xoffStanding_; }
    std::size_t Fill() const { return Held(); }
    std::size_t MaxFill() const { return maxFill_; }
    unsigned XoffSent() const { return xoffSent_; }
    std::uint64_t OverrunBytes() const { return overrun_; }
    std::uint64_t BytesAfterXoff() const { return afterXoff_; }

private:
    FlowSettings s_;
    std::string data_;
    std::size_t head_ = 0; // data_ before head_ has been drained already
    // The flash has been busy since drainEpoch_ and has taken drained_ bytes since then.
    Clock::time_point drainEpoch_;
    std::uint64_t drained_ = 0;
    bool xoffStanding_ = false;
    bool xoffEverSent_ = false;
    bool xoffPending_ = false; // decided, not yet reported by Decide()
    Clock::time_point xoffAt_;
    std::size_t takenSinceXoff_ = 0;
    std::size_t maxFill_ = 0;
    unsigned xoffSent_ = 0;
    std::uint64_t overrun_ = 0;
    std::uint64_t afterXoff_ = 0;

    std::size_t Held() const { return data_.size() - head_; }
    void CheckXoff(Clock::time_point now);
};
