// The component's writes that do not wait: the open port's transmitter (SerialTransmitter.h),
// and its reports brought to the window's thread as one event: how many more bytes the
// driver took or dropped, whether the device has drained, the peer's XOFF hold, a failure of
// the device, and the line errors the port saw meanwhile. Reports are gathered: one event
// may cover many changes, and none is delivered after the sender is gone.
#pragma once

#include "platform/Component.h"
#include "platform/Exception.h"
#include "platform/SerialTransmitter.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

// What became of the bytes sent and of the line since the last report.
using TSendReport = SerialSendReport;

using TSendProgressEvent = std::function<void(TObject* Sender, const TSendReport& report)>;

class TComSender
{
public:
    // `context`: the object whose thread (the window's) gets the reports; `deliver` is
    // called there.
    TComSender(QObject* context, SerialPort& port, std::function<void(const TSendReport&)> deliver);
    // Stops the transmitter; bytes not yet taken are dropped.
    ~TComSender();
    TComSender(const TComSender&) = delete;
    TComSender& operator=(const TComSender&) = delete;

    void Send(const char* data, std::size_t count) { transmitter_->Send(data, count); }
    void Abandon() { transmitter_->Abandon(); }
    SerialTransmitter::Progress Progress() const { return transmitter_->Snapshot(); }

private:
    struct Shared
    {
        std::atomic<bool> posted{false};
        TComSender* owner = nullptr; // the window's thread only
    };
    // From any thread: has a report delivered, unless one is on its way.
    static void Post(QObject* context, const std::shared_ptr<Shared>& shared);
    void Deliver();

    SerialPort& port_;
    std::function<void(const TSendReport&)> deliver_;
    std::shared_ptr<Shared> shared_;
    std::unique_ptr<SerialTransmitter> transmitter_;
};
