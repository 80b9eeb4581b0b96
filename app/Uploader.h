// The main window: the port and line-speed choices, Connect, the file transfer, a terminal
// pane with the unit's output and a status bar. Its handlers feed the upload engine
// (upload/UploadEngine.h) and show what it answers, over its serial component, its wake-up
// timer and its log.
#pragma once

#include "platform/Component.h"
#include "platform/Exception.h"
#include "upload/UploadEngine.h"

#include <QWidget>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>

class QTabWidget;
class QComboBox;
class QProgressBar;
class QCheckBox;
class QLabel;
class QFrame;
class QStatusBar;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class TMyCom;
class TThreadedTimer;
class TOpenDialog;
class TQuickLogFile;
class TIniFile;
class TPageFocus;
class TAnchors;
namespace Ui {
class TForm1;
}
struct SerialSendReport;
using TSendReport = SerialSendReport;
class TForm1Host;

// Where the unit stands in its upload cycle.
using enum upload::DialogueStateValue;

class TForm1 : public QWidget
{
public:
    // Builds the window from its form description and runs FormCreate.
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Controls and components, owned by the window (names as in the form description).
    QTabWidget* PageControl1 = nullptr;
    QWidget* CommSheet = nullptr;
    QWidget* UploadSheet = nullptr;
    QComboBox* cbComPort = nullptr;
    QComboBox* cbBaudRate = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QCheckBox* ckbSingleStep = nullptr;
    QCheckBox* ckbAddLF = nullptr;
    QCheckBox* ckbXonXoff = nullptr;
    QLabel* XoffLabel = nullptr;
    // The last unit's verdict, kept on the Upload page until the next verdict.
    QLabel* LastVerdict = nullptr;
    QFrame* Panel1 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    TMyCom* MyCom1 = nullptr;
    TThreadedTimer* ThreadedTimer1 = nullptr;
    TOpenDialog* OpenDialog1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QFrame* Panel2 = nullptr;
    QPushButton* bBrowse = nullptr;
    QPushButton* bCancel = nullptr;
    QFrame* Panel3 = nullptr;
    QCheckBox* cAlwaysOnTop = nullptr;
    QCheckBox* bDisplayHelp = nullptr;
    QPushButton* ConnectButton = nullptr;
    TQuickLogFile* LogFile = nullptr;

    // Handlers of the shell (app/).
    void FormCreate(TObject* Sender);
    void FormClose(TObject* Sender);
    void cAlwaysOnTopClick(TObject* Sender);
    void bDisplayHelpClick(TObject* Sender);
    void cbComPortChange(TObject* Sender);
    void cbBaudRateChange(TObject* Sender);
    void ckbXonXoffClick(TObject* Sender);

    // Handlers of the dialogue with the unit and the file transfer (upload/).
    void ConnectButtonClick(TObject* Sender);
    void ThreadedTimer1Timer(TObject* Sender);
    void MyCom1PacketReceived(TObject* Sender, AnsiString& buffer);
    void MyCom1StatusChanged(TObject* Sender, bool ctsOn, bool dsrOn, bool ringOn, bool rlsdOn);
    void CommSheetEnter(TObject* Sender);
    void bBrowseClick(TObject* Sender);
    void bCancelClick(TObject* Sender);
    void bUploadClick(TObject* Sender);
    // The port's transmitter took bytes, drained, the unit's hold changed or the line failed.
    void MyCom1SendProgress(TObject* Sender, const TSendReport& report);

    // Appends text to the terminal pane, discarding whole rows from the top so that the
    // pane never holds more than 10000 characters.
    void AppendToTerminal(const AnsiString& text);

    // Shows the unit's text in the terminal pane with AppendToTerminal: at once when the pane
    // has not changed for a moment, else gathered and appended at most every 100 ms, so that a
    // unit that sends without pause does not have the pane laid out for every packet.
    void ShowInTerminal(const AnsiString& text);
    // Appends what ShowInTerminal gathered.
    void FlushTerminal();

    // The status bar's one text (replaced, never appended to).
    void SetStatus(const AnsiString& text);
    AnsiString StatusText() const;

    // The tab pages' focus rules (see platform/PageFocus.h): makes a page active, moving the
    // focus into it when the focused control lies on the page being left; disables a
    // control so that, when it held the focus, no control holds it afterwards.
    void SetActivePage(QWidget* page);
    void DisableControl(QWidget* control);

    // Read access for tests and the shell.
    std::uint8_t DialogueState() const { return engine->DialogueState(); }
    bool ConnectRequested() const { return engine->ConnectRequested(); }
    bool CancelRequest() const { return engine->CancelRequest(); }
    bool XoffShown() const { return engine->XoffShown(); }
    bool Transferring() const { return engine->Transferring(); }
    TIniFile* IniFile() const { return FIniFile.get(); }

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // The shell's steps (app/).
    void LoadConfiguration();
    void OpenPortAtStartup();
    void ShowPortError();
    // Closes the port and opens the one the port box selects, at the component's speed.
    void ReopenPort();
    void LogSystemError();
    // After "Read Error: n" or "Send Error: n": the system's words for n and what to do.
    void LogSerialErrorAdvice(const AnsiString& errorText);
    void LayoutControls();
    void BindEvents();

    // The dialogue and the transfer: what the engine answers, shown.
    friend class TForm1Host;
    void TransferFile();
    void UpdateXoffIndicator(bool held);
    void ReaderFailed(const AnsiString& errorText);
    // Closes a port whose line failed, once no transfer and no handler of the port uses it;
    // Later: once the handler that met the failure has returned.
    void ReleaseFailedLine();
    void ReleaseFailedLineLater();
    // After the port was closed and opened again: the engine starts afresh on the line.
    void PortOpened();
    // Asks the operator to confirm the next line, from the message loop itself.
    void AskStep();
    // Appends a finished unit record to the record file; a failure is shown and logged.
    void RecordUnit(const upload::UnitRecord& record);
    // A failure beside the dialogue (a setting or a record not saved), shown on a row of its
    // own in the terminal pane, where it leaves the status bar's verdict standing.
    void ShowNotice(const AnsiString& text);
    // Once, after a port opened: says so when the log or the unit record cannot be written.
    void ShowFolderWarning();

    std::unique_ptr<Ui::TForm1> ui;
    std::unique_ptr<TPageFocus> pageFocus;
    TAnchors* commAnchors = nullptr;
    TAnchors* uploadAnchors = nullptr;

    // Private state.
    std::unique_ptr<TIniFile> FIniFile;
    // The dialogue with the unit and the transfer; the host shows what it answers.
    std::unique_ptr<TForm1Host> host;
    std::unique_ptr<upload::UploadEngine> engine;
    // About once a second: the engine's clock (the hold's age, the verdict's silence bound).
    QTimer* clockTimer = nullptr;
    // The unit record's folder warning is still to be shown (it is shown once).
    bool folderWarningDue = true;
    // The port box's text changed by the choice being handled (see the constructor).
    bool portChosenNow = false;
    // A failed save of the file's name has been shown (once in a run; each is logged).
    bool iniSaveFailureShown = false;
    // The terminal pane's text gathered by ShowInTerminal, and when the pane last changed.
    AnsiString terminalBacklog;
    qsizetype terminalBacklogLength = 0;
    std::chrono::steady_clock::time_point terminalShown{};
    QTimer* terminalTimer = nullptr;
};

// The main window, set while it exists.
extern TForm1* Form1;
