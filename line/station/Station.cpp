#include "line/station/Station.h"

#include "line/station/SocketBinding.h"
#include "platform/PortAdvice.h"
#include "platform/PortNames.h"

#include <algorithm>

using namespace std::chrono_literals;

namespace line {

namespace {

// The uploader's settings of its port (app/Uploader.cpp), so a station reads and writes the
// line as the operator's tool does.
constexpr std::uint32_t BufSize = 1024;
constexpr std::uint32_t PacketSize = 160;
constexpr std::uint32_t TimeoutMs = 10;
constexpr auto WakeUpInterval = 1s;
constexpr auto ClockInterval = 1s;
// A unit that holds the line this long without its XON has hung: the station lets go of it.
constexpr auto LongestHold = 30s;
// A unit that sends more text than this per second, several seconds running, floods the
// line: no unit of the Orvix-500 says that much.
constexpr std::uint64_t FloodBytesPerSecond = 4096;
constexpr int FloodSeconds = 3;

// Maps the station's own port number to its device for the serial components.
void MapPort(std::uint32_t port, const std::string& device)
{
    auto map = PortMap();
    map[port] = device;
    SetPortMap(std::move(map));
}

} // namespace

Station::Station(int index, StationSettings settings, std::uint32_t port, StationServices& line)
    : index_(index), settings_(std::move(settings)), port_(port), line_(line),
      com_(new TMyCom(&context_)), wakeUp_(new QTimer(&context_)), clock_(new QTimer(&context_))
{
    com_->SetBufSize(BufSize);
    com_->SetBaud(settings_.baud);
    com_->SetPacketSize(PacketSize);
    com_->SetTimeout(TimeoutMs);
    com_->SetDtrControl(dtrHandshake);
    com_->SetPort(port_);
    BindPort();

    engine_ = std::make_unique<upload::UploadEngine>(*this);
    engine_->Started();
    wakeUp_->setInterval(WakeUpInterval);
    QObject::connect(wakeUp_, &QTimer::timeout, &context_, [this] { engine_->WakeUpTick(); });
    clock_->setInterval(ClockInterval);
    QObject::connect(clock_, &QTimer::timeout, &context_, [this] { Tick(); });
}

Station::~Station()
{
    // A cycle still open is recorded, and the port's reader stops before the engine goes.
    OnChanged = nullptr;
    engine_->Close();
    wakeUp_->stop();
    clock_->stop();
    delete com_;
    com_ = nullptr;
}

void Station::BindPort()
{
    com_->OnPacketReceived = [this](TObject*, AnsiString& buffer) {
        textBytes_ += buffer.size();
        engine_->Packet(buffer);
        AfterEvent();
    };
    com_->OnReadError = [this](TObject*, const AnsiString& errorText) {
        engine_->LineFailed(errorText);
        AfterEvent();
    };
    // The uploader's order: line errors, then the hold, then the figures, then a failure.
    com_->OnSendProgress = [this](TObject*, const TSendReport& report) {
        if (report.held && !view_.held)
            heldSince_ = Now();
        view_.held = report.held;
        bytesTaken_ += report.taken;
        engine_->PortReport(report);
        AfterEvent();
    };
}

void Station::Start()
{
    if (view_.phase == StationPhase::Halted && view_.confirmNeeded)
        return;
    if (running_)
        return;
    const SocketCheck check = CheckSocket(settings_.socket, settings_.adapter);
    if (!check.problem.empty()) {
        Halt(check.problem, check.swapped);
        return;
    }
    device_ = check.device;
    MapPort(port_, device_);
    com_->SetPort(port_);
    com_->ComInit();
    if (!com_->Initialized) {
        std::string problem = "Port unavailable: ";
        problem.append(com_->SystemErrorText.empty() ? com_->ErrorText : com_->SystemErrorText);
        for (const std::string& advice : PortOpenAdvice(device_, com_->OpenResult))
            Log("port help : " + advice);
        Halt(problem, false);
        return;
    }
    com_->SetXonXoff(true);
    engine_->PortOpened();
    running_ = true;
    view_.phase = StationPhase::Waiting;
    view_.problem.clear();
    view_.confirmNeeded = false;
    verdictSeen_ = false;
    floodSeconds_ = 0;
    textBytes_ = 0;
    Log("status : started on " + device_ + " (" + settings_.socket + ")");
    clock_->start();
    engine_->Connect("");
    Changed();
}

void Station::Stop()
{
    const bool wasRunning = running_;
    running_ = false;
    // A transfer running is cancelled, a unit whose verdict is awaited is recorded without
    // one: the record has every unit the station began, whatever stopped it.
    engine_->Close();
    engine_->CommPageEntered();
    wakeUp_->stop();
    clock_->stop();
    ClosePort();
    if (view_.phase != StationPhase::Halted)
        view_.phase = StationPhase::Stopped;
    view_.held = false;
    if (wasRunning)
        Log("status : stopped");
    Changed();
}

void Station::Cancel()
{
    if (engine_->Transferring())
        engine_->Cancel();
    AfterEvent();
}

void Station::Confirm()
{
    if (view_.phase != StationPhase::Halted)
        return;
    if (view_.confirmNeeded && IsSocketName(settings_.socket)) {
        // The adapter now in the socket becomes the station's.
        const std::string device = ResolveSocket(settings_.socket);
        settings_.adapter = device.empty() ? std::nullopt : AdapterOf(device);
        std::string text = "status : adapter confirmed: ";
        Log(text.append(settings_.adapter ? settings_.adapter->Text() : "none"));
        if (OnSettingsChanged)
            OnSettingsChanged();
    }
    view_.confirmNeeded = false;
    view_.problem.clear();
    view_.phase = StationPhase::Stopped;
    Start();
}

void Station::Bind(const std::string& socket)
{
    Stop();
    settings_.socket = socket;
    const std::string device = ResolveSocket(socket);
    settings_.adapter = device.empty() ? std::nullopt : AdapterOf(device);
    view_.phase = StationPhase::Stopped;
    view_.problem.clear();
    view_.confirmNeeded = false;
    Log("status : bound to " + socket + " (" +
        (settings_.adapter ? settings_.adapter->Text() : std::string("no USB adapter")) + ")");
    if (OnSettingsChanged)
        OnSettingsChanged();
    Changed();
}

bool Station::StepDue() const
{
    if (!running_ || engine_->Transferring())
        return false;
    return verdictSeen_ || engine_->Failed() || engine_->DialogueState() == upload::Connected;
}

void Station::AfterEvent()
{
    Changed();
    // Most events (the port's reports during a transfer) leave nothing to do: no call is
    // posted for them.
    if (stepPosted_ || !StepDue())
        return;
    stepPosted_ = true;
    // Not from inside the engine's event: the engine takes no event while it answers one.
    QTimer::singleShot(0, &context_, [this] { NextStep(); });
}

void Station::NextStep()
{
    stepPosted_ = false;
    if (!running_)
        return;
    if (engine_->Failed() && !engine_->Transferring()) {
        std::string problem = "Line failed (";
        problem.append(view_.status).append("): check the adapter and its cable, then press Start");
        Halt(problem, false);
        return;
    }
    if (verdictSeen_) {
        verdictSeen_ = false;
        if (engine_->DialogueState() != upload::Connected) {
            // As the uploader does after a verdict: the dialogue starts again, and the
            // wake-up byte calls the next unit.
            engine_->CommPageEntered();
            engine_->Connect("");
        }
    }
    if (engine_->DialogueState() == upload::Connected && !engine_->Transferring())
        BeginUnit();
}

void Station::BeginUnit()
{
    const SocketCheck check = CheckSocket(settings_.socket, settings_.adapter);
    if (!check.problem.empty()) {
        Halt(check.problem, check.swapped);
        return;
    }
    if (check.device != device_) {
        Halt("The socket " + settings_.socket + " now leads to " + check.device +
                 ": press Start to use it",
             false);
        return;
    }
    std::string reason;
    const upload::FirmwareFile* file = line_.FirmwareForUnit(reason);
    if (!file) {
        Halt(reason, false);
        return;
    }
    transferStart_ = Now();
    bytesTaken_ = 0;
    engine_->Transfer(*file);
    AfterEvent();
}

void Station::Halt(const std::string& problem, bool confirm)
{
    Stop();
    view_.phase = StationPhase::Halted;
    view_.problem = problem;
    view_.confirmNeeded = confirm;
    Log("status : halted: " + problem);
    Changed();
}

void Station::ClosePort()
{
    if (com_->Reader)
        com_->ComClose();
}

void Station::Tick()
{
    engine_->ClockTick();
    if (running_ && engine_->Transferring() && view_.held && Now() - heldSince_ >= LongestHold) {
        std::string problem = "The unit held the line for ";
        problem.append(std::to_string(LongestHold.count()))
            .append(" s without releasing it: check the unit, then press Start");
        Halt(problem, false);
        return;
    }
    floodSeconds_ = textBytes_ > FloodBytesPerSecond ? floodSeconds_ + 1 : 0;
    textBytes_ = 0;
    if (running_ && floodSeconds_ >= FloodSeconds) {
        Halt("The unit floods the line with text: check the unit and its cable, then press Start",
             false);
        return;
    }
    AfterEvent();
}

void Station::Changed()
{
    if (OnChanged)
        OnChanged();
}

} // namespace line
