// The firmware file transfer: the file's lines sent one after the other, paced by the line
// and the unit's XON/XOFF, with the window kept alive, progress shown and Cancel honoured.
#include "app/Uploader.h"
#include "components/QuickLogFile.h"
#include "platform/Application.h"
#include "platform/OpenDialog.h"
#include "platform/ProcessPriority.h"
#include "platform/ProfileFile.h"
#include "platform/SerialLineSettings.h"
#include "platform/SerialPort.h"
#include "serial/MyCom.h"
#include "upload/FirmwareReader.h"
#include "upload/UnitRecorder.h"

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <functional>
#include <limits>

namespace {

// Longest wait for a window message while the unit holds the line, before the port is
// queried again. The unit sends XON with a quarter of its buffer still to program, which
// keeps its flash busy far longer than this, so the delay costs the line nothing; each round
// costs a wake-up, and at this interval the hold takes about 1.5 % of a core.
constexpr std::chrono::milliseconds HoldPollInterval{10};
// How often a write that waits for the line looks whether the unit holds it.
constexpr std::chrono::milliseconds WriteHoldWatchInterval{20};
// How often the end of a transfer looks whether the device's transmit queue has drained
// (128 bytes take 11 ms at 115200 bit/s), and what it allows beyond the bytes' line time
// (a USB adapter's latency timer).
constexpr std::chrono::milliseconds DrainPollInterval{2};
constexpr std::chrono::milliseconds DrainMargin{100};

using Clock = std::chrono::steady_clock;

// Blocks until a window message arrives or the interval passes, handling what arrived.
// A timer bounds the wait: the event dispatcher's own wait has no limit.
void WaitForMessages(std::chrono::milliseconds bound)
{
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(bound);
    Application->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

int ClampToInt(long long value)
{
    return int(std::clamp<long long>(value, 0, std::numeric_limits<int>::max()));
}

// Raises the priority for the length of a transfer and lowers it again however the
// transfer ends. Best effort: a refusal by the system (a user without the privilege) changes
// nothing but is told once in a run, through `refused`, with the system's reason.
class HighPriorityScope
{
public:
    explicit HighPriorityScope(const std::function<void(const AnsiString&)>& refused)
    {
        static bool told = false;
        std::string reason;
        if (!SetPriorityClass(PriorityClass::High, &reason) && !told) {
            told = true;
            refused(reason);
        }
    }
    ~HighPriorityScope() { SetPriorityClass(PriorityClass::Normal); }
    HighPriorityScope(const HighPriorityScope&) = delete;
    HighPriorityScope& operator=(const HighPriorityScope&) = delete;
};

} // namespace

void TForm1::bBrowseClick(TObject* /*Sender*/)
{
    if (!OpenDialog1->Execute()) {
        SetStatus("Could not open file.");
        LogFile->Log("status : " + StatusText());
        return;
    }
    DisableControl(bBrowse);
    try {
        FIniFile->WriteString("SystemSection", "FileName", OpenDialog1->FileName);
    } catch (const Exception&) {
        // No transfer starts, and the unit is still connected.
        bBrowse->setEnabled(true);
        throw;
    }
    TransferFile();
}

void TForm1::bCancelClick(TObject* /*Sender*/)
{
    // With the focus on the Cancel button this enters the Comm Setup page at once.
    SetActivePage(CommSheet);
    FCancelRequest = true;
}

void TForm1::bUploadClick(TObject* /*Sender*/)
{
    LogFile->Log("status : start upload");
    TransferFile();
}

void TForm1::UpdateXoffIndicator(bool held)
{
    if (FXoffShown == held)
        return;
    XoffLabel->setEnabled(held);
    // The label's background shows the colour: red while held, the button face otherwise.
    QPalette palette = XoffLabel->palette();
    palette.setColor(XoffLabel->backgroundRole(),
                     held ? QColor(Qt::red)
                          : QApplication::palette(XoffLabel).color(QPalette::Button));
    XoffLabel->setPalette(palette);
    FXoffShown = held;
    UnitRecords().Held(held);
    XoffLabel->repaint();
}

void TForm1::TransferFile()
{
    const AnsiString path = OpenDialog1->FileName;
    const auto report = [this](const AnsiString& text) {
        SetStatus(text);
        LogFile->Log("status : " + StatusText());
    };

    upload::FirmwareReader file;
    const bool opened = file.Open(path);
    report("Opening file " + path);
    if (!opened) {
        report("Unable to open " + path);
        LogFile->Log("status : " + file.OpenError());
        // The unit is still connected: another file may be chosen at once.
        if (FDialogueState == Connected)
            bBrowse->setEnabled(true);
        return;
    }
    if (!CheckFirmwareFile(path))
        return;
    report("Transferring file " + path);
    const int maximum = ClampToInt(file.Length() / 4);
    // A bar whose maximum is its minimum shows a busy animation: a file too short to count
    // gets a bar of one step, which stays empty.
    ProgressBar1->setMaximum(std::max(maximum, 1));
    const auto showProgress = [this, maximum](long long value) {
        // The bar keeps its maximum when the count runs ahead (LF-only files).
        ProgressBar1->setValue(std::min(ClampToInt(value), maximum));
    };

    const auto lineHeld = [this] {
        const bool held = (MyCom1->GetStatus().Flags & fXoffHold) != 0;
        // A port that is closed or whose reader stopped on a failure reports its last status
        // for ever: no XON can arrive there, and the write will tell.
        return held && MyCom1->Reader && MyCom1->Reader->Running;
    };
    // Before each line: handle the waiting messages, then wait as long as the unit holds
    // the line, handling messages as they come (Cancel, packets, ticks) without spinning.
    // A purge (Cancel's) keeps the hold: Cancel ends the wait, and the waiting line is not
    // sent to a unit that asked the line to stop (a unit that never sends XON would keep the
    // transfer waiting for good).
    const auto waitWhileHeld = [&] {
        for (;;) {
            Application->ProcessMessages();
            UpdateXoffIndicator(lineHeld());
            if (!FXoffShown || FCancelRequest)
                return;
            WaitForMessages(HoldPollInterval);
        }
    };
    // After the last line the file's tail may still wait in the device's transmit queue (a
    // pty has none): the transfer ends, and "Finished Uploading" is shown, only once those
    // bytes have left: within their line time, which does not run while the unit holds the
    // line. Cancel ends the wait; neither its purge nor a later one discards them.
    const auto waitForTheTail = [&] {
        SerialStatus status = MyCom1->GetStatus();
        // The line's own character format and rate, as the driver holds them.
        SerialState line;
        const bool known = MyCom1->PortDriver() && MyCom1->PortDriver()->GetState(line);
        auto deadline = Clock::now() +
                        (known ? LineTime(line, status.cbOutQue) : Clock::duration{}) + DrainMargin;
        auto last = Clock::now();
        while (status.cbOutQue > 0 && !FCancelRequest && MyCom1->Reader &&
               MyCom1->Reader->Running) {
            const auto now = Clock::now();
            if (status.Flags & fXoffHold)
                deadline += now - last;
            else if (now >= deadline)
                return;
            last = now;
            UpdateXoffIndicator((status.Flags & fXoffHold) != 0);
            WaitForMessages(DrainPollInterval);
            status = MyCom1->GetStatus();
        }
    };
    // An XOFF that comes while a line is being written holds the write itself, which keeps
    // the window alive meanwhile: this watch lights the indicator for that hold too.
    QTimer holdWatch;
    holdWatch.setInterval(WriteHoldWatchInterval);
    connect(&holdWatch, &QTimer::timeout, this, [&] { UpdateXoffIndicator(lineHeld()); });

    long long lineCount = 0;
    long long byteCount = 0;
    FDialogueState = Uploading;
    BeginUnitRecord(path);
    transferRunning = true;
    AnsiString failure;
    {
        HighPriorityScope priority([this](const AnsiString& reason) {
            LogFile->Log("status : Priority not raised: " + reason);
        });
        try {
            while (!file.AtEnd() && !FCancelRequest) {
                AnsiString line = file.ReadLine();
                line += '\n';
                if (ckbAddLF->isChecked())
                    line += '\r';
                ++lineCount;
                byteCount += (long long)line.size();
                if (lineCount % 10 == 0)
                    SetStatus("Number of Lines: " + std::to_string(lineCount));
                if (ckbSingleStep->isChecked() &&
                    Application->MessageBox("OK to Step", "Single Step", MB_OKCANCEL) == IDCANCEL)
                    ckbSingleStep->setChecked(false);
                showProgress(byteCount / 4);
                waitWhileHeld();
                if (FCancelRequest)
                    break;
                holdWatch.start();
                MyCom1->Write(line);
                holdWatch.stop();
                // A port that is not open takes nothing and raises nothing: the transfer
                // ends as a failed write ends it.
                if (!MyCom1->Initialized) {
                    failure = MyCom1->ErrorText;
                    break;
                }
                UnitRecords().LineSent(line.size());
                ++byteCount;
            }
            waitForTheTail();
        } catch (const std::exception& e) {
            failure = e.what();
        }
        holdWatch.stop();
    }
    transferRunning = false;
    // The hold that matters is the one before a line: none is left to wait for.
    UpdateXoffIndicator(false);
    EndUnitRecord(failure, FCancelRequest);

    if (!failure.empty()) {
        // A failed write ends the transfer as Cancel does: the unit is left to report.
        report(failure);
        LogSerialErrorAdvice(failure);
        FCancelRequest = false;
    } else if (FCancelRequest) {
        report("Upload Canceled");
        FCancelRequest = false;
    } else {
        report("Finished Uploading");
        showProgress(maximum);
    }
    FDialogueState = AwaitingProgramResult;
    ReleaseFailedLine();
    if (closeAfterTransfer) {
        closeAfterTransfer = false;
        close();
    }
}
