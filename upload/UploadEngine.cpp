// The dialogue with the unit: the wake-up byte, the unit's messages moving the dialogue
// state, the line's events, and what the operator is shown of them. The transfer's events
// are in UploadTransfer.cpp.
#include "upload/UploadEngine.h"

#include "platform/SerialPort.h"
#include "upload/DotCounter.h"
#include "upload/UploadRun.h"

#include <array>

int DotCounter = 0;

namespace upload {

namespace {

constexpr char WakeUpByte = '\r';

const std::string NoResultText(NoResultStatus);

const std::string ConnectedInstructions =
    "1)Click Select File\n1)Double-click File to\n   begin upload";

// What each line error means, in the words logged once per transfer.
struct LineErrorText
{
    std::uint32_t flag;
    const char* text;
};
constexpr std::array<LineErrorText, 5> LineErrorTexts = {{
    {CE_RXOVER, "input queue overflow (the unit's bytes came faster than they were read)"},
    {CE_OVERRUN, "overrun (the port's receiver lost bytes)"},
    {CE_RXPARITY, "parity error (check the line speed and the character format)"},
    {CE_FRAME, "framing error (check the line speed and the character format)"},
    {CE_BREAK, "break received (the cable or the unit dropped the line)"},
}};

} // namespace

UploadEngine::UploadEngine(EngineHost& host)
    : host_(host), records_([this](const UnitRecord& record) { host_.RecordUnit(record); })
{
}

void UploadEngine::Started()
{
    xoffShown_ = false;
    state_ = WaitingForUnit;
    cancelRequest_ = false;
}

void UploadEngine::Report(const std::string& text)
{
    SetStatus(text);
    host_.Log("status : " + text);
}

void UploadEngine::SetStatus(const std::string& text)
{
    lastStatus_ = text;
    holdStatusShown_ = false;
    host_.Status(text);
}

void UploadEngine::Connect(const std::string& portError)
{
    // A Cancel or a result that cleared the request may have left the dialogue waiting for a
    // verdict that was then only shown: a new request starts waiting for a unit.
    if (!connectRequested_ && !transfer_)
        state_ = WaitingForUnit;
    connectRequested_ = true;
    host_.WakeUpTimer(true);
    if (!portError.empty()) {
        // Nothing can arrive: say why instead of waiting.
        Report(portError);
        return;
    }
    SetStatus("Waiting for connection to be established...");
    host_.Log("status : waiting for connection...");
}

void UploadEngine::CommPageEntered()
{
    host_.Purge();
    messageJoin_.Clear();
    connectRequested_ = false;
    state_ = WaitingForUnit;
}

void UploadEngine::WakeUpTick()
{
    // A line that failed takes no more wake-up bytes, as a closed port takes none: the
    // operator has been told once. A byte still waiting for the line (the unit holds it) is
    // not joined by more: they would all go out at once when the hold ends. Nor does one go
    // between the file's lines.
    if (lineFailed_ || outstanding_ > 0 || transfer_)
        return;
    if (host_.Send(std::string(1, WakeUpByte)).empty())
        ++outstanding_;
}

void UploadEngine::ForgetHold()
{
    // The unit that held the line started again without the XON it owed: its hold no longer
    // stops the next unit's wake-up bytes and file.
    host_.ReleaseHold();
    HoldChanged(false);
}

void UploadEngine::Packet(const std::string& bytes)
{
    const std::string text = NormalisePacket(bytes);
    if (held_ && ContainsMessage(text, UnitMessages[0].text))
        ForgetHold();
    if (!connectRequested_) {
        messageJoin_.Clear();
        if (!text.empty())
            displayQueue_.push_back(text);
        FlushQueues();
        return;
    }

    // While the file goes out the unit's messages are those of the transfer, also when the
    // focus entering Comm Setup has put the dialogue back to waiting meanwhile.
    const std::uint8_t state = transfer_ ? std::uint8_t(Uploading) : state_;
    const std::string joined = messageJoin_.Join(text, state);
    const UnitMessage* found = FindMessage(joined, state);
    switch (state) {
    case Uploading:
        messageJoin_.Keep(joined, state, found != nullptr);
        if (!found || !transfer_) {
            const int n = DotCounter;
            DotCounter = n + 1;
            // One dot with the 12th packet, then with every 12th.
            if (n > 10) {
                host_.Terminal(".", true);
                DotCounter = 0;
            }
            break;
        }
        // The unit gave up under the transfer, or a unit (re)started: the transfer ends.
        EndTransfer(End::UnitEnded);
        if (found->nextState == WaitingForUnit) {
            ShowResult(std::string(found->statusText), found->nextState);
            if (!text.empty())
                receivedQueue_.push_back(text);
        } else {
            Report("Upload Failed!!!  The unit started again.");
            Greeted();
            if (!text.empty())
                displayQueue_.push_back(text);
        }
        FlushQueues();
        break;

    case WaitingForUnit:
        messageJoin_.Keep(joined, state, found != nullptr);
        if (found)
            Greeted();
        if (!text.empty())
            displayQueue_.push_back(text);
        FlushQueues();
        break;

    case Connected: {
        // Keep what the help window showed before the instructions, to give it back at the
        // result; a second packet in this state must not save the instructions themselves.
        const std::string shown = host_.HelpText();
        if (shown != ConnectedInstructions)
            helpTextBeforeInstructions_ = shown;
        host_.SetHelpText(ConnectedInstructions);
        break;
    }

    case AwaitingProgramResult:
    case AwaitingCrcResult:
        records_.UnitSpoke(host_.Now());
        messageJoin_.Keep(joined, state, found != nullptr);
        if (found) {
            ShowResult(std::string(found->statusText), found->nextState);
        } else if (ContainsMessage(joined, UnitMessages[0].text)) {
            // The unit started again before its verdict: none will come for that cycle, and
            // the unit now greeting is ready for its file.
            statusQueue_.push_back(NoResultText);
            Greeted();
            if (!text.empty())
                receivedQueue_.push_back(text);
            FlushQueues();
            break;
        }
        // The purge empties what waits in the port; a packet that ends inside what may be
        // a result would lose the result's rest, so that purge waits for the next packet.
        else if (state == AwaitingProgramResult && !messageJoin_.MessageInProgress())
            host_.Purge();
        if (!text.empty())
            receivedQueue_.push_back(text);
        FlushQueues();
        break;

    default:
        break;
    }
}

void UploadEngine::Greeted()
{
    // A tick already on its way may still write one more wake-up byte.
    host_.WakeUpTimer(false);
    host_.BrowseEnabled(true);
    host_.Progress(0);
    host_.ShowPage(Page::Upload);
    statusQueue_.emplace_back(UnitMessages[0].statusText);
    state_ = Connected;
    // A cycle still waiting for its verdict got none.
    records_.UnitGreeted(host_.WallNow(), host_.Now());
}

void UploadEngine::ShowResult(const std::string& statusText, std::uint8_t nextState)
{
    // With the focus on the Upload page this enters the Comm Setup page at once, which
    // resets the dialogue; the state set below stands all the same.
    host_.ShowPage(Page::CommSetup);
    statusQueue_.push_back(statusText);
    if (host_.HelpText() == ConnectedInstructions)
        host_.SetHelpText(helpTextBeforeInstructions_);
    state_ = nextState;
}

void UploadEngine::FlushQueues()
{
    // A recognised message changes the status bar: the pane shows the text that led to it
    // at the same moment, not with the next gathered update.
    const bool statusChanges = !statusQueue_.empty();
    while (!receivedQueue_.empty()) {
        host_.Terminal(receivedQueue_.front(), false);
        host_.Log("received : " + receivedQueue_.front());
        receivedQueue_.pop_front();
    }
    while (!statusQueue_.empty()) {
        Report(statusQueue_.front());
        records_.StatusShown(statusQueue_.front(), host_.WallNow(), host_.Now());
        statusQueue_.pop_front();
    }
    while (!displayQueue_.empty()) {
        host_.Terminal(displayQueue_.front(), false);
        displayQueue_.pop_front();
    }
    if (statusChanges)
        host_.FlushTerminal();
}

void UploadEngine::PortReport(const SerialSendReport& report)
{
    if (report.lineErrors)
        LineErrors(report.lineErrors);
    HoldChanged(report.held);
    SendProgress(report.taken, report.dropped, report.drained);
    if (!report.failure.empty())
        LineFailed(report.failure);
}

void UploadEngine::HoldChanged(bool held)
{
    if (held == held_)
        return;
    held_ = held;
    const auto now = host_.Now();
    if (held)
        heldSince_ = now;
    if (transfer_) {
        SetLamp(held);
        records_.Held(held, now);
    }
    if (!held && holdStatusShown_)
        SetStatus(lastStatus_);
}

void UploadEngine::LineFailed(const std::string& errorText)
{
    // The reader and the writer may both meet the failure: it is reported once.
    if (lineFailed_)
        return;
    lineFailed_ = true;
    if (transfer_) {
        EndTransfer(End::Failed, errorText);
        return;
    }
    Report(errorText);
    host_.Advise(errorText);
}

void UploadEngine::LineErrors(std::uint32_t flags)
{
    if (!transfer_)
        return;
    for (const LineErrorText& error : LineErrorTexts) {
        if (!(flags & error.flag))
            continue;
        records_.LineError();
        if (errorsLogged_ & error.flag)
            continue;
        errorsLogged_ |= error.flag;
        host_.Log(std::string("status : Line error during the upload: ") + error.text);
    }
}

void UploadEngine::PortOpened()
{
    // The transfer's bytes went with the port that was closed.
    if (transfer_)
        EndTransfer(End::Failed, "Com not initialized.");
    lineFailed_ = false;
    outstanding_ = 0;
    held_ = false;
    holdStatusShown_ = false;
}

void UploadEngine::ClockTick()
{
    const auto now = host_.Now();
    if (transfer_ && held_ && now - heldSince_ >= HoldShownAfter) {
        const auto age = std::chrono::duration_cast<std::chrono::seconds>(now - heldSince_);
        const std::string text = "Unit holding the line: " + std::to_string(age.count()) + " s";
        // Shown, not logged: the log says why when the transfer ends.
        const std::string before = lastStatus_;
        host_.Status(text);
        holdStatusShown_ = true;
        lastStatus_ = before;
    }
    // The unit stayed silent after the transfer: the operator sees that no verdict came, and
    // the tool waits for the next unit.
    if (records_.Tick(host_.WallNow(), now) &&
        (state_ == AwaitingProgramResult || state_ == AwaitingCrcResult)) {
        ShowResult(NoResultText, WaitingForUnit);
        FlushQueues();
    }
}

void UploadEngine::Close()
{
    if (transfer_) {
        cancelRequest_ = true;
        EndTransfer(End::Cancelled);
    }
    records_.Close(host_.WallNow(), host_.Now());
}

} // namespace upload
