#include "cli/LineLink.h"

#include "platform/PortAdvice.h"

namespace cli {

namespace {

// The window's port settings (app/Uploader.cpp, serial/MyCom.cpp): its queue, its packet
// size, and its timeout of 10 ms, which gives a 2 ms pause and 2 x 160 + 10 ms in all.
constexpr std::uint32_t QueueSize = 1024;
constexpr std::size_t PacketSize = 160;
constexpr std::uint32_t TimeoutMs = 10;

} // namespace

LineLink::LineLink(LoopInbox& inbox) : inbox_(inbox) {}

LineLink::~LineLink()
{
    if (reader_.joinable()) {
        stopping_ = true;
        port_->WakeRead();
        reader_.join();
    }
    if (port_)
        port_->SetHoldObserver({});
    transmitter_.reset();
    port_.reset();
}

std::optional<LineLink::OpenFailure> LineLink::Open(const std::string& name, std::uint32_t baud)
{
    SerialResult result = SerialResult::Ok;
    std::string reason;
    port_ = SerialPort::Open(name, &result, &reason);
    if (!port_)
        return OpenFailure{reason, PortOpenAdvice(name, result)};
    SerialState state;
    port_->GetState(state);
    state.BaudRate = baud;
    state.ByteSize = 8;
    state.Parity = 0;
    state.StopBits = 0;
    SetXonXoffOutput(state, QueueSize);
    SerialTimeouts timeouts;
    timeouts.ReadIntervalTimeout = TimeoutMs / 10 + 1;
    timeouts.ReadTotalTimeoutMultiplier = TimeoutMs / 10 + 1;
    timeouts.ReadTotalTimeoutConstant = TimeoutMs;
    if (!port_->SetState(state) || !port_->SetTimeouts(timeouts) ||
        !port_->SetupQueues(QueueSize, QueueSize)) {
        OpenFailure failure{port_->Path() + ": " + port_->LastErrorText(), {}};
        port_.reset();
        return failure;
    }
    transmitter_ = std::make_unique<SerialTransmitter>(*port_, [this] { inbox_.SendChanged(); });
    port_->SetHoldObserver([this](bool) { inbox_.SendChanged(); });
    reader_ = std::thread([this] { ReadLoop(); });
    return std::nullopt;
}

void LineLink::ReadLoop()
{
    std::string buffer(PacketSize, '\0');
    while (!stopping_) {
        std::size_t received = 0;
        const SerialResult result = port_->Read(buffer.data(), PacketSize, &received);
        if (result == SerialResult::Aborted)
            continue; // a Purge ended the read: reception goes on
        if (result != SerialResult::Ok) {
            if (!stopping_) {
                std::string text = "Read Error: ";
                text += std::to_string(port_->LastErrno());
                inbox_.ReadFailed(std::move(text));
            }
            return;
        }
        if (received > 0)
            inbox_.Packet(buffer.substr(0, received));
    }
}

} // namespace cli
