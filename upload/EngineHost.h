// What the upload engine asks of the program around it (the uploader's window, a station of
// the production line, the headless command): the port, the wake-up timer, what to show and
// log, and the clocks. The engine calls these from inside its own event calls, in the order
// the operator is to see their effects. None may call back into the engine, except
// ShowPage: making the Comm Setup page active may move the input focus into it, and the
// host then reports that at once with UploadEngine::CommPageEntered.
#pragma once

#include "platform/LocalClock.h"
#include "upload/UnitRecord.h"

#include <chrono>
#include <string>

namespace upload {

enum class Page
{
    CommSetup,
    Upload,
};

// The port as the unit record names it.
struct PortIdentity
{
    std::string port;   // "COM2"
    std::string device; // the device the name maps to
    std::uint32_t baud = 0;
};

class EngineHost
{
public:
    virtual ~EngineHost() = default;

    // The port. Send queues the bytes and returns at once; the host later reports with
    // UploadEngine::SendProgress what the driver took. It returns the reason when nothing
    // can be sent (no open port: "Com not initialized."), empty otherwise.
    virtual std::string Send(const std::string& bytes) = 0;
    // Drops what the driver has not taken yet.
    virtual void AbandonSends() = 0;
    // Empties the port's input side; what was sent goes on.
    virtual void Purge() = 0;
    // Ends a hold the unit put on the line (the unit that owed the XON is gone).
    virtual void ReleaseHold() = 0;
    virtual PortIdentity Port() const = 0;
    // What to do about a failed line ("Read Error: 5" and the like), said after the failure.
    virtual void Advise(const std::string& errorText) = 0;

    // The wake-up byte's timer.
    virtual void WakeUpTimer(bool on) = 0;

    // The status bar's one text.
    virtual void Status(const std::string& text) = 0;
    // One line of the log (the full text, prefix included).
    virtual void Log(const std::string& text) = 0;
    // The unit's text in the terminal pane; `atOnce` shows it, and whatever was gathered
    // before it, now.
    virtual void Terminal(const std::string& text, bool atOnce) = 0;
    // Shows now what the terminal pane gathered.
    virtual void FlushTerminal() = 0;
    virtual void ShowPage(Page page) = 0;
    virtual void BrowseEnabled(bool on) = 0;
    // The progress bar: its maximum (at least 1 is shown), then positions.
    virtual void ProgressMaximum(int maximum) = 0;
    virtual void Progress(int position) = 0;
    virtual void XoffLamp(bool lit) = 0;
    // The help window's text.
    virtual std::string HelpText() const = 0;
    virtual void SetHelpText(const std::string& text) = 0;

    // The process's priority for the length of a transfer.
    virtual void HighPriority(bool on) = 0;
    // The transfer's options: LF followed by CR; confirm each line.
    virtual bool AddCr() const = 0;
    virtual bool SingleStep() const = 0;
    // Asks the operator to confirm the next line; the answer comes with StepAnswered.
    virtual void AskStep() = 0;

    // A finished unit record, to be appended to the record file.
    virtual void RecordUnit(const UnitRecord& record) = 0;

    virtual std::chrono::steady_clock::time_point Now() const = 0;
    virtual LocalTime WallNow() const = 0;
};

} // namespace upload
