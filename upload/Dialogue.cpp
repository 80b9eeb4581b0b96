// The main window's side of the dialogue with the unit: the wake-up byte, the unit's
// messages moving the dialogue state, and what the operator is shown of it.
#include "app/Help.h"
#include "app/Uploader.h"
#include "components/QuickLogFile.h"
#include "components/ThdTimer.h"
#include "serial/MyCom.h"
#include "upload/DotCounter.h"
#include "upload/PacketText.h"
#include "upload/UnitRecorder.h"

#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

int DotCounter = 0;

namespace {

constexpr char WakeUpByte = '\r';

const AnsiString ConnectedInstructions =
    "1)Click Select File\n1)Double-click File to\n   begin upload";

AnsiString HelpText()
{
    return HelpForm ? HelpForm->HelpMemo->toPlainText().toLocal8Bit().toStdString() : AnsiString();
}

void SetHelpText(const AnsiString& text)
{
    if (!HelpForm)
        return;
    HelpForm->HelpMemo->clear();
    HelpForm->HelpMemo->setPlainText(QString::fromLocal8Bit(text.data(), qsizetype(text.size())));
}

} // namespace

void TForm1::ConnectButtonClick(TObject* /*Sender*/)
{
    // With no port open (or a line that failed), Connect first tries the chosen port again, as a
    // change of the port box does: the device may have appeared since.
    if ((!MyCom1->Initialized || lineFailed) && !transferRunning)
        ReopenPort();
    // A Cancel or a result that cleared the request may have left the dialogue waiting for a
    // verdict that was then only shown: a new request starts waiting for a unit.
    if (!FConnectRequested && !transferRunning)
        FDialogueState = WaitingForUnit;
    FConnectRequested = true;
    ThreadedTimer1->SetEnabled(true);
    if (!MyCom1->Initialized) {
        // Nothing can arrive: say why instead of waiting.
        SetStatus(MyCom1->ErrorText);
        LogFile->Log("status : " + MyCom1->ErrorText);
        LogSystemError();
        return;
    }
    SetStatus("Waiting for connection to be established...");
    LogFile->Log("status : waiting for connection...");
}

void TForm1::ThreadedTimer1Timer(TObject* /*Sender*/)
{
    // A line that failed takes no more wake-up bytes, as a closed port takes none: the
    // operator has been told once, not with a message box every second.
    if (lineFailed)
        return;
    char byte = WakeUpByte;
    try {
        MyCom1->Write(&byte, 1);
    } catch (const Exception& e) {
        ReaderFailed(e.Message);
    }
}

void TForm1::MyCom1StatusChanged(TObject* /*Sender*/, bool /*ctsOn*/, bool /*dsrOn*/,
                                 bool /*ringOn*/, bool /*rlsdOn*/)
{
}

void TForm1::CommSheetEnter(TObject* /*Sender*/)
{
    MyCom1->Purge();
    messageJoin.Clear();
    FConnectRequested = false;
    FDialogueState = WaitingForUnit;
}

void TForm1::MyCom1PacketReceived(TObject* /*Sender*/, AnsiString& buffer)
{
    const AnsiString text = upload::NormalisePacket(buffer);
    if (!FConnectRequested) {
        messageJoin.Clear();
        if (!text.empty())
            DisplayQueue.push_back(text);
        FlushQueues();
        return;
    }

    switch (FDialogueState) {
    case WaitingForUnit: {
        const AnsiString joined = messageJoin.Join(text, WaitingForUnit);
        const auto* greeting = upload::FindMessage(joined, WaitingForUnit);
        messageJoin.Keep(joined, WaitingForUnit, greeting != nullptr);
        if (greeting) {
            // A tick already on its way may still write one more wake-up byte.
            ThreadedTimer1->SetEnabled(false);
            bBrowse->setEnabled(true);
            ProgressBar1->setValue(0);
            SetActivePage(UploadSheet);
            StatusQueue.emplace_back(greeting->statusText);
            FDialogueState = greeting->nextState;
            UnitRecords().UnitGreeted();
        }
        if (!text.empty())
            DisplayQueue.push_back(text);
        FlushQueues();
        break;
    }

    case Connected: {
        // Keep what the help window showed before the instructions, to give it back at the
        // result; a second packet in this state must not save the instructions themselves.
        const AnsiString shown = HelpText();
        if (shown != ConnectedInstructions)
            helpTextBeforeInstructions = shown;
        SetHelpText(ConnectedInstructions);
        break;
    }

    case Uploading: {
        const int n = DotCounter;
        DotCounter = n + 1;
        // One dot with the 12th packet, then with every 12th.
        if (n > 10) {
            // Progress shows at once, after whatever text was still gathered.
            FlushTerminal();
            AppendToTerminal(".");
            DotCounter = 0;
        }
        break;
    }

    case AwaitingProgramResult:
    case AwaitingCrcResult: {
        UnitRecords().UnitSpoke();
        const std::uint8_t state = FDialogueState;
        const AnsiString joined = messageJoin.Join(text, state);
        const auto* result = upload::FindMessage(joined, state);
        messageJoin.Keep(joined, state, result != nullptr);
        if (result)
            ShowResult(AnsiString(result->statusText), result->nextState);
        // The purge empties what waits in the port; a packet that ends inside what may be
        // a result would lose the result's rest, so that purge waits for the next packet.
        else if (state == AwaitingProgramResult && !messageJoin.MessageInProgress())
            MyCom1->Purge();
        if (!text.empty())
            ReceivedQueue.push_back(text);
        FlushQueues();
        break;
    }

    default:
        break;
    }
}

void TForm1::ShowResult(const AnsiString& statusText, std::uint8_t nextState)
{
    // With the focus on the Upload page this enters the Comm Setup page at once, which
    // resets the dialogue; the state set below stands all the same.
    SetActivePage(CommSheet);
    StatusQueue.push_back(statusText);
    if (HelpText() == ConnectedInstructions)
        SetHelpText(helpTextBeforeInstructions);
    FDialogueState = nextState;
}

void TForm1::FlushQueues()
{
    // A recognised message changes the status bar: the pane shows the text that led to it
    // at the same moment, not with the next gathered update.
    const bool statusChanges = !StatusQueue.empty();
    while (!ReceivedQueue.empty()) {
        ShowInTerminal(ReceivedQueue.front());
        LogFile->Log("received : " + ReceivedQueue.front());
        ReceivedQueue.pop_front();
    }
    while (!StatusQueue.empty()) {
        SetStatus(StatusQueue.front());
        LogFile->Log("status : " + StatusQueue.front());
        UnitRecords().StatusShown(StatusQueue.front());
        StatusQueue.pop_front();
    }
    while (!DisplayQueue.empty()) {
        ShowInTerminal(DisplayQueue.front());
        DisplayQueue.pop_front();
    }
    if (statusChanges)
        FlushTerminal();
}

void TForm1::ReaderFailed(const AnsiString& errorText)
{
    // The reader and the wake-up byte may both meet the failure: it is reported once.
    if (lineFailed)
        return;
    lineFailed = true;
    SetStatus(errorText);
    LogFile->Log("status : " + errorText);
    LogSerialErrorAdvice(errorText);
    // The reader reports from inside its own hand-over, where the port cannot be closed.
    QTimer::singleShot(0, this, [this] { ReleaseFailedLine(); });
}

void TForm1::ReleaseFailedLine()
{
    // A vanished adapter stays in use while its device is open, and the kernel then gives
    // the adapter plugged in again another name: let go of it, so choosing the port again (or
    // Connect) finds it under its own name. A transfer still running ends first, and closes
    // it then.
    if (lineFailed && !transferRunning && MyCom1->Reader)
        MyCom1->ComClose();
}
