// The command's line: the port opened and set up as the uploader's window sets up its port
// (the line speed, 8N1, XON/XOFF output flow control, 2 ms pauses end a packet of at most 160
// bytes), its reader thread, and its transmitter, all reporting into the loop's inbox.
#pragma once

#include "cli/LoopInbox.h"
#include "platform/SerialPort.h"
#include "platform/SerialTransmitter.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace cli {

// What changed since the last report (the role of the window's send report).
using SendReport = SerialSendReport;

class LineLink
{
public:
    // Why the line could not be had: the system's reason and what to do about it.
    struct OpenFailure
    {
        std::string reason;
        std::vector<std::string> advice;
    };

    explicit LineLink(LoopInbox& inbox);
    // Stops the reader and the transmitter (bytes not yet taken are dropped), then closes.
    ~LineLink();
    LineLink(const LineLink&) = delete;
    LineLink& operator=(const LineLink&) = delete;

    // `name`: "COM" + n or a device path. Empty on success.
    std::optional<OpenFailure> Open(const std::string& name, std::uint32_t baud);

    // The loop thread only, after Open succeeded.
    void Send(const std::string& bytes) { transmitter_->Send(bytes.data(), bytes.size()); }
    void Abandon() { transmitter_->Abandon(); }
    void Purge() { port_->Purge(); }
    void ReleaseHold() { port_->ReleaseOutputHold(); }
    bool Held() const { return port_->OutputHeld(); }
    // What changed since the last report (the role of the window's send report).
    SendReport TakeReport() { return transmitter_->TakeReport(); }
    const std::string& Device() const { return port_->Path(); }

private:
    void ReadLoop();

    LoopInbox& inbox_;
    std::unique_ptr<SerialPort> port_;
    std::unique_ptr<SerialTransmitter> transmitter_;
    std::thread reader_;
    std::atomic<bool> stopping_{false};
};

} // namespace cli
