// One station of the line without a window: an upload engine over its own TMyCom, with its
// own wake-up and clock timers, on the thread of the event loop. What a window would show
// becomes counters and the last status text, so that several stations can run side by side
// in one process and be compared afterwards.
#pragma once

#include "serial/MyCom.h"
#include "upload/EngineHost.h"
#include "upload/UploadEngine.h"

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class StationHost : public upload::EngineHost
{
public:
    // `port`: the number of "COM" + n, mapped to a device beforehand (SetPortMap).
    StationHost(std::string name, std::uint32_t port, std::uint32_t baud);
    ~StationHost() override;
    StationHost(const StationHost&) = delete;
    StationHost& operator=(const StationHost&) = delete;

    // Opens the port with XON/XOFF as the window does at start-up; the port's reason when it
    // could not be opened, empty otherwise.
    std::string Open();

    upload::UploadEngine& Engine() { return *engine_; }
    const std::string& Name() const { return name_; }
    const std::string& LastStatus() const { return lastStatus_; }
    // Set once the status bar would have shown a final result, and kept: the simulated unit
    // greets again a little later, which moves the engine on to the next cycle.
    const std::optional<std::string>& FinalStatus() const { return finalStatus_; }
    const std::optional<upload::UnitRecord>& Record() const { return record_; }
    std::uint64_t BytesSent() const { return bytesSent_; }
    std::uint64_t StatusCount() const { return statusCount_; }
    std::uint64_t LogCount() const { return logCount_; }
    std::uint64_t TerminalBytes() const { return terminalBytes_; }
    std::uint64_t ProgressCount() const { return progressCount_; }

    std::string Send(const std::string& bytes) override;
    void AbandonSends() override;
    void Purge() override;
    void ReleaseHold() override;
    upload::PortIdentity Port() const override;
    void Advise(const std::string& errorText) override;
    void WakeUpTimer(bool on) override;
    void Status(const std::string& text) override;
    void Log(const std::string& text) override;
    void Terminal(const std::string& text, bool atOnce) override;
    void FlushTerminal() override {}
    void ShowPage(upload::Page) override {}
    void BrowseEnabled(bool) override {}
    void ProgressMaximum(int) override {}
    void Progress(int) override { ++progressCount_; }
    void XoffLamp(bool) override {}
    std::string HelpText() const override { return helpText_; }
    void SetHelpText(const std::string& text) override { helpText_ = text; }
    // The stations share one process: raising its priority for one of them would favour
    // neither, so the bench leaves the priority alone.
    void HighPriority(bool) override {}
    bool AddCr() const override { return false; }
    bool SingleStep() const override { return false; }
    // Never asked: SingleStep is off.
    void AskStep() override {}
    void RecordUnit(const upload::UnitRecord& record) override { record_ = record; }
    std::chrono::steady_clock::time_point Now() const override;
    LocalTime WallNow() const override;

private:
    void BindPort();

    std::string name_;
    QObject context_; // owns the port and the timers, so they live on this thread
    TMyCom* com_;
    QTimer* wakeUp_;
    QTimer* clock_;
    std::unique_ptr<upload::UploadEngine> engine_;

    std::string lastStatus_;
    std::optional<std::string> finalStatus_;
    std::optional<upload::UnitRecord> record_;
    std::string helpText_;
    std::uint64_t bytesSent_ = 0;
    std::uint64_t statusCount_ = 0;
    std::uint64_t logCount_ = 0;
    std::uint64_t terminalBytes_ = 0;
    std::uint64_t progressCount_ = 0;
};
