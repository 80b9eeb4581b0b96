// One station of the production line: an upload engine over its own TMyCom, hands-free. It
// opens its socket's device, waits for its unit's greeting, checks the socket and the line's
// firmware, programs the unit, records the verdict and waits for the next unit. A fault of
// its line, its unit or its socket stops this station alone, with the reason on its panel.
#pragma once

#include "line/core/LineSettings.h"
#include "serial/MyCom.h"
#include "upload/EngineHost.h"
#include "upload/UploadEngine.h"

#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace line {

// What a station needs of the line: the firmware, the record and the log.
class StationServices
{
public:
    virtual ~StationServices() = default;
    // The firmware to program, or nullptr with `reason` when none may be programmed now.
    virtual const upload::FirmwareFile* FirmwareForUnit(std::string& reason) = 0;
    // Appends a row; empty on success, the text for the operator otherwise.
    virtual std::string RecordUnit(const upload::UnitRecord& record, const std::string& station,
                                   const std::string& socket) = 0;
    virtual void Log(const std::string& station, const std::string& text) = 0;
};

enum class StationPhase
{
    Stopped,     // not started, or stopped by the operator
    Halted,      // stopped by a fault until the operator acts; see Problem()
    Waiting,     // the port is open, the wake-up byte goes out, no unit has greeted
    Programming, // the transfer runs
    Verifying,   // the file is sent; the unit's verdict is awaited
};

// What the panel shows of a station.
struct StationView
{
    StationPhase phase = StationPhase::Stopped;
    std::string status;  // the engine's last status text
    std::string problem; // why the station halted
    bool confirmNeeded = false;
    int progressMaximum = 1;
    int progress = 0;
    double bytesPerSecond = 0;
    bool held = false;
    std::chrono::milliseconds holdAge{0};
    std::optional<upload::UnitOutcome> lastOutcome;
    std::string lastUnitTime; // "09:26:57"
    int units = 0;
    int passed = 0;
    int failed = 0;
    std::string lastStatus;  // the status text of the last verdict
    std::string recordError; // the record could not be written: shown, the line goes on
};

class Station : public upload::EngineHost
{
public:
    // `port`: the "COM" number the station's device is mapped to (kept for itself).
    Station(int index, StationSettings settings, std::uint32_t port, StationServices& line);
    ~Station() override;
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Opens the socket's device and waits for units. Nothing happens while a fault waits for
    // the operator's Confirm.
    void Start();
    // Cancels a transfer and closes the port.
    void Stop();
    // Cancels the transfer running (the unit is recorded as cancelled); the station goes on.
    void Cancel();
    // The operator accepts what halted the station (the adapter now in the socket); the
    // station then starts again.
    void Confirm();
    // Binds the station to `socket` and learns the adapter in it.
    void Bind(const std::string& socket);

    const StationSettings& Settings() const { return settings_; }
    int Index() const { return index_; }
    StationView View() const;
    upload::UploadEngine& Engine() { return *engine_; }
    // Called after every change the panel may show.
    std::function<void()> OnChanged;
    // Called when the station's socket or learned adapter changed, to be saved.
    std::function<void()> OnSettingsChanged;

    // upload::EngineHost
    std::string Send(const std::string& bytes) override;
    void AbandonSends() override;
    void Purge() override;
    void ReleaseHold() override;
    upload::PortIdentity Port() const override;
    void Advise(const std::string& errorText) override;
    void WakeUpTimer(bool on) override;
    void Status(const std::string& text) override;
    void Log(const std::string& text) override;
    void Terminal(const std::string&, bool) override {}
    void FlushTerminal() override {}
    void ShowPage(upload::Page) override {}
    void BrowseEnabled(bool) override {}
    void ProgressMaximum(int maximum) override;
    void Progress(int position) override;
    void XoffLamp(bool) override {}
    std::string HelpText() const override { return helpText_; }
    void SetHelpText(const std::string& text) override { helpText_ = text; }
    // The stations share one process: raising its priority for one would favour none.
    void HighPriority(bool) override {}
    bool AddCr() const override { return false; }
    bool SingleStep() const override { return false; }
    void AskStep() override {}
    void RecordUnit(const upload::UnitRecord& record) override;
    std::chrono::steady_clock::time_point Now() const override;
    LocalTime WallNow() const override;

private:
    void BindPort();
    // After every event of the line: starts the unit's transfer, or asks for the next unit.
    void AfterEvent();
    // Whether NextStep has something to do.
    bool StepDue() const;
    void NextStep();
    void BeginUnit();
    void Halt(const std::string& problem, bool confirm);
    void Tick();
    void ClosePort();
    void Changed();

    int index_;
    StationSettings settings_;
    std::uint32_t port_;
    StationServices& line_;
    QObject context_; // owns the port and the timers, so they live on this thread
    TMyCom* com_;
    QTimer* wakeUp_;
    QTimer* clock_;
    std::unique_ptr<upload::UploadEngine> engine_;
    std::string helpText_;

    bool running_ = false;
    bool stepPosted_ = false;
    bool verdictSeen_ = false;
    std::string device_; // what the socket resolved to at the last open
    StationView view_;
    std::chrono::steady_clock::time_point transferStart_{};
    std::chrono::steady_clock::time_point heldSince_{};
    std::uint64_t bytesTaken_ = 0;
    std::uint64_t textBytes_ = 0; // the unit's text since the last tick
    int floodSeconds_ = 0;
};

} // namespace line
