#include "bench/engine/StationHost.h"

#include "platform/PortNames.h"
#include "upload/UnitRecord.h"

#include <chrono>
#include <cstdio>

using namespace std::chrono_literals;

namespace {

// The window's settings of its port (app/Uploader.cpp), so the station reads and writes the
// line as the operator's tool does.
constexpr std::uint32_t BufSize = 1024;
constexpr std::uint32_t PacketSize = 160;
constexpr std::uint32_t TimeoutMs = 10;

} // namespace

StationHost::StationHost(std::string name, std::uint32_t port, std::uint32_t baud)
    : name_(std::move(name)), com_(new TMyCom(&context_)), wakeUp_(new QTimer(&context_)),
      clock_(new QTimer(&context_))
{
    com_->SetBufSize(BufSize);
    com_->SetBaud(baud);
    com_->SetPacketSize(PacketSize);
    com_->SetTimeout(TimeoutMs);
    com_->SetDtrControl(dtrHandshake);
    com_->SetPort(port);
    BindPort();

    engine_ = std::make_unique<upload::UploadEngine>(*this);
    wakeUp_->setInterval(1s);
    QObject::connect(wakeUp_, &QTimer::timeout, &context_, [this] { engine_->WakeUpTick(); });
    clock_->setInterval(1s);
    QObject::connect(clock_, &QTimer::timeout, &context_, [this] { engine_->ClockTick(); });
    clock_->start();
}

StationHost::~StationHost()
{
    // A cycle still open is recorded, and the port's reader stops before the engine goes.
    engine_->Close();
    wakeUp_->stop();
    clock_->stop();
    delete com_;
    com_ = nullptr;
}

void StationHost::BindPort()
{
    com_->OnPacketReceived = [this](TObject*, AnsiString& buffer) { engine_->Packet(buffer); };
    com_->OnReadError = [this](TObject*, const AnsiString& errorText) {
        engine_->LineFailed(errorText);
    };
    com_->OnSendProgress = [this](TObject*, const TSendReport& report) {
        engine_->PortReport(report);
    };
}

std::string StationHost::Open()
{
    com_->ComInit();
    com_->SetXonXoff(true);
    engine_->Started();
    return com_->Initialized ? std::string() : com_->ErrorText + " " + com_->SystemErrorText;
}

std::string StationHost::Send(const std::string& bytes)
{
    if (!com_->Send(bytes))
        return com_->ErrorText;
    bytesSent_ += bytes.size();
    return {};
}

void StationHost::AbandonSends()
{
    com_->AbandonSends();
}

void StationHost::Purge()
{
    com_->Purge();
}

void StationHost::ReleaseHold()
{
    com_->ReleaseHold();
}

upload::PortIdentity StationHost::Port() const
{
    const std::string port = "COM" + std::to_string(com_->Port());
    return {port, ResolvePortName(port), com_->Baud()};
}

void StationHost::Advise(const std::string& errorText)
{
    std::fprintf(stderr, "%s: line failed: %s\n", name_.c_str(), errorText.c_str());
}

void StationHost::WakeUpTimer(bool on)
{
    if (on)
        wakeUp_->start();
    else
        wakeUp_->stop();
}

void StationHost::Status(const std::string& text)
{
    ++statusCount_;
    lastStatus_ = text;
    if (!finalStatus_ && upload::OutcomeOfStatus(text))
        finalStatus_ = text;
}

void StationHost::Log(const std::string&)
{
    ++logCount_;
}

void StationHost::Terminal(const std::string& text, bool)
{
    terminalBytes_ += text.size();
}

std::chrono::steady_clock::time_point StationHost::Now() const
{
    return std::chrono::steady_clock::now();
}

LocalTime StationHost::WallNow() const
{
    return LocalNow();
}
