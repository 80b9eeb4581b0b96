// The simulated Orvix-500 unit in upload mode: answers the uploader's wake-up byte with its
// greeting, takes a firmware file off the line at the line's speed under XON/XOFF flow
// control, checks and "programs" it, and reports the outcome with the unit's messages. Runs on
// one thread over a LineDevice until it is stopped or has done the asked number of cycles.
#pragma once

#include "platform/LineDevice.h"
#include "sim/Download.h"
#include "sim/FlowControl.h"
#include "sim/Options.h"
#include "sim/Report.h"

#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

class Unit
{
public:
    using Clock = std::chrono::steady_clock;

    // `line` must outlive the unit. `trace`, when given, receives a time-stamped line for
    // everything the unit sends and decides.
    Unit(const SimOptions& options, LineDevice& line, std::ostream* trace = nullptr);

    // Runs until Stop(), a stop signal, or `units` completed cycles. Returns the process exit
    // status: 0 normally, 1 when the line failed for good.
    int Run();
    // Ends Run() soon; a cycle under way is reported as "aborted". Safe from any thread.
    void Stop() { line_.Interrupt(); }

    // The cycles reported so far (safe from any thread).
    std::vector<CycleReport> Cycles() const;
    // Cycles that ended with a result message.
    unsigned CompletedCycles() const;

private:
    enum class Phase
    {
        Upload,
        Download,
        Discard,
        Results
    };
    struct Outgoing
    {
        Clock::time_point at;
        std::string text;
        bool endsCycle = false;
    };

    void OnTime(Clock::time_point now);
    Clock::time_point NextEvent(Clock::time_point now) const;
    std::size_t Allowance(Clock::time_point now) const;
    void Consume(Clock::time_point now, std::string_view bytes);
    void ConsumeUpload(Clock::time_point now, std::string_view bytes);
    void ConsumeDownload(Clock::time_point now, std::string_view bytes);
    void ConsumeInPhase(Clock::time_point now, std::string_view bytes);
    void StartDownload(Clock::time_point now, const std::string& firstLine);
    void ProcessDrained(Clock::time_point now, const std::string& bytes);
    void LineDone(Clock::time_point now);
    void SendFlowSignal(Clock::time_point now);
    void ReleaseXoff();
    // Whether the faults that --fault-unit narrows hit the unit being served.
    bool FaultHere() const;
    void EndDownload(Clock::time_point now);
    void Fail(Clock::time_point now, const std::string& reason);
    void CompleteCycle(Clock::time_point now);
    void Abort(Clock::time_point now, const std::string& why);
    void Unplug(Clock::time_point now);
    void Greet(Clock::time_point now);
    void Schedule(Clock::time_point at, std::string text, bool endsCycle = false,
                  bool lineEnd = true);
    void ScheduleChatter(Clock::time_point at);
    void WriteNow(std::string_view bytes);
    void Trace(const std::string& text) const;

    SimOptions o_;
    LineDevice& line_;
    std::ostream* trace_;
    Clock::time_point start_;
    std::chrono::nanoseconds byteTime_{0}; // zero: no pacing
    std::chrono::nanoseconds pause_;
    std::mt19937 random_;

    Phase phase_ = Phase::Upload;
    bool finished_ = false;
    int exitCode_ = 0;
    std::string pending_;            // an incomplete line before the download
    Clock::time_point nextByteAt_{}; // when the line delivers its next byte
    bool lineIdle_ = true;           // the line ran dry: no bytes are waiting on the wire
    Clock::time_point greetAt_ = Clock::time_point::max();
    Clock::time_point replugAt_ = Clock::time_point::max();
    std::uint64_t totalBytes_ = 0;
    bool unplugged_ = false;
    std::deque<Outgoing> outbox_;
    Clock::time_point lastScheduled_{};

    // The cycle under way.
    std::unique_ptr<Download> download_;
    std::unique_ptr<FlowControl> flow_;
    CycleReport cycle_;
    std::string lineBuffer_;
    Clock::time_point cycleStart_{};
    Clock::time_point lastActivity_{};
    bool overrunNoted_ = false;

    mutable std::mutex mutex_;
    std::vector<CycleReport> cycles_;
    unsigned completed_ = 0;
};
