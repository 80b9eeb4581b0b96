// The upload engine: the dialogue with one unit (the wake-up byte, the unit's six messages,
// the dialogue state and what the operator is shown of it) and the transfer of a firmware
// file to it, as a state machine driven by events. It never waits: each event is answered at
// once through the host (EngineHost.h) with what to send, show and log, and the port's
// progress comes back as events. So one thread can run many engines, and tests drive it with
// tables of events, without a port, a window or a sleep.
#pragma once

#include "platform/SerialTransmitter.h"
#include "upload/EngineHost.h"
#include "upload/FirmwareReader.h"
#include "upload/PacketText.h"
#include "upload/UnitRecorder.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

namespace upload {

// Where the unit stands in its upload cycle.
enum DialogueStateValue : std::uint8_t
{
    WaitingForUnit = 0,
    Connected = 1,
    Uploading = 2,
    AwaitingProgramResult = 3,
    AwaitingCrcResult = 4,
};

// A firmware file as the host read it: its bytes, or why it could not be read.
struct FirmwareFile
{
    std::string path; // as chosen; shown and logged
    std::string absolutePath;
    bool opened = false;
    std::string bytes;
    std::string error; // the system's reason when it could not be read
};

class UploadEngine
{
public:
    using Clock = std::chrono::steady_clock;
    // A hold that lasts this long shows its age on the status bar.
    static constexpr std::chrono::seconds HoldShownAfter{3};

    explicit UploadEngine(EngineHost& host);
    ~UploadEngine();
    UploadEngine(const UploadEngine&) = delete;
    UploadEngine& operator=(const UploadEngine&) = delete;

    // --- Events of the operator and the window ---
    // Start-up: waiting for a unit, nothing requested.
    void Started();
    // Connect pressed; `portError` is the reason no port is open (empty when one is).
    void Connect(const std::string& portError);
    // The input focus entered the Comm Setup page.
    void CommPageEntered();
    // Select File's dialog was closed without a file.
    void FileNotChosen();
    // A file to send (Select File, or the published upload handler).
    void Transfer(const FirmwareFile& file);
    void Cancel();
    // The operator's answer to AskStep: the line is sent either way; false also ends the
    // single step.
    void StepAnswered(bool goOn);
    // The program ends: a transfer running is cancelled, a cycle still open is recorded.
    void Close();

    // --- Events of the line ---
    // The wake-up timer's tick.
    void WakeUpTick();
    // One packet of the unit's text, as read.
    void Packet(const std::string& bytes);
    // The port's report, as its transmitter gives it: the line errors, then the hold, then the
    // figures, then a failure, in that order (a report that ends a hold and drains the queue
    // is seen with the hold ended first).
    void PortReport(const SerialSendReport& report);
    // The driver took `taken` more of the bytes sent, and dropped `dropped` more (after
    // AbandonSends or a failure); `drained`: every byte taken has left the device.
    void SendProgress(std::uint64_t taken, std::uint64_t dropped, bool drained);
    // The unit's XOFF hold on the line began or ended.
    void HoldChanged(bool held);
    // The port's line failed ("Read Error: 5", "Send Error: 5").
    void LineFailed(const std::string& errorText);
    // The port reported line errors (CE_ bits: overrun, framing, parity, break).
    void LineErrors(std::uint32_t flags);
    // A port was opened again: nothing sent is outstanding, no hold stands, the line works.
    void PortOpened();
    // Time passes (about once a second): the hold's age, the verdict's silence bound.
    void ClockTick();

    // --- State, for the host and tests ---
    std::uint8_t DialogueState() const { return state_; }
    bool ConnectRequested() const { return connectRequested_; }
    bool CancelRequest() const { return cancelRequest_; }
    bool XoffShown() const { return xoffShown_; }
    bool Transferring() const { return transfer_ != nullptr; }
    bool Failed() const { return lineFailed_; }
    bool Held() const { return held_; }

private:
    struct Run; // one transfer's state

    // The dialogue.
    void Report(const std::string& text);
    void SetStatus(const std::string& text);
    void FlushQueues();
    void ShowResult(const std::string& statusText, std::uint8_t nextState);
    void Greeted();
    void ForgetHold();

    // The transfer.
    void BeginTransfer(const FirmwareFile& file);
    bool CheckFile(const FirmwareFile& file);
    void Pump();
    bool SendLine(std::string line);
    void AccountTaken();
    enum class End
    {
        Finished,
        Cancelled,
        Failed,    // the port refused or failed: the failure's text is shown
        UnitEnded, // the unit gave up or started again: its message is shown instead
    };
    void EndTransfer(End how, const std::string& failure = {});
    void SetLamp(bool lit);

    EngineHost& host_;
    std::uint8_t state_ = WaitingForUnit;
    bool connectRequested_ = false;
    bool cancelRequest_ = false;
    bool xoffShown_ = false;
    std::deque<std::string> statusQueue_;
    std::deque<std::string> receivedQueue_;
    std::deque<std::string> displayQueue_;
    MessageJoin messageJoin_;
    std::string helpTextBeforeInstructions_;
    std::string lastStatus_;
    bool holdStatusShown_ = false;

    // The line.
    bool lineFailed_ = false;
    bool held_ = false;
    Clock::time_point heldSince_{};
    std::uint64_t outstanding_ = 0; // sent, neither taken nor dropped yet
    std::uint32_t errorsLogged_ = 0;

    std::unique_ptr<Run> transfer_;
    UnitRecorder records_;
};

} // namespace upload
