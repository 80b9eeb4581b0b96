// The upload engine's host in the headless command: what the window would show becomes step
// lines, events and the log; the port is the command's LineLink; the wake-up timer is a
// deadline the command's loop keeps. It gathers the units' outcomes for the exit status.
#pragma once

#include "cli/CommandLog.h"
#include "cli/CommandOutput.h"
#include "cli/LineLink.h"
#include "upload/EngineHost.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace cli {

class CommandHost : public upload::EngineHost
{
public:
    using Clock = std::chrono::steady_clock;

    CommandHost(LineLink& link, CommandOutput& output, CommandLog& log, std::string recordPath,
                upload::PortIdentity port);

    // The wake-up timer's next tick; none while it is off.
    std::optional<Clock::time_point> WakeUpDue() const { return wakeUpDue_; }
    void WakeUpTicked() { wakeUpDue_ = Clock::now() + WakeUpInterval; }
    // The outcomes recorded so far, oldest first.
    const std::vector<upload::UnitOutcome>& Outcomes() const { return outcomes_; }
    // The transfer's progress as the engine counts it: 0 to 1.
    double Fraction() const { return maximum_ > 0 ? double(position_) / maximum_ : 0.0; }

    std::string Send(const std::string& bytes) override;
    void AbandonSends() override { link_.Abandon(); }
    void Purge() override { link_.Purge(); }
    void ReleaseHold() override { link_.ReleaseHold(); }
    upload::PortIdentity Port() const override { return port_; }
    void Advise(const std::string& errorText) override;
    void WakeUpTimer(bool on) override;
    void Status(const std::string& text) override;
    void Log(const std::string& text) override { log_.Log(text); }
    // The unit's own text is in the log ("received : ..."); the command shows its steps only.
    void Terminal(const std::string&, bool) override {}
    void FlushTerminal() override {}
    void ShowPage(upload::Page) override {}
    void BrowseEnabled(bool) override {}
    void ProgressMaximum(int maximum) override { maximum_ = maximum; }
    void Progress(int position) override { position_ = position; }
    void XoffLamp(bool) override {}
    std::string HelpText() const override { return helpText_; }
    void SetHelpText(const std::string& text) override { helpText_ = text; }
    void HighPriority(bool on) override;
    bool AddCr() const override { return false; }
    bool SingleStep() const override { return false; }
    // Never asked: SingleStep is off.
    void AskStep() override {}
    void RecordUnit(const upload::UnitRecord& record) override;
    Clock::time_point Now() const override { return Clock::now(); }
    LocalTime WallNow() const override;

    static constexpr std::chrono::seconds WakeUpInterval{1};

private:
    LineLink& link_;
    CommandOutput& output_;
    CommandLog& log_;
    std::string recordPath_;
    upload::PortIdentity port_;
    std::optional<Clock::time_point> wakeUpDue_;
    std::vector<upload::UnitOutcome> outcomes_;
    std::string lastStatus_;
    std::string helpText_;
    int maximum_ = 0;
    int position_ = 0;
    bool priorityRefusalTold_ = false;
};

} // namespace cli
