// The main window: the port and line-speed choices, Connect, the file transfer, a terminal
// pane with the unit's output and a status bar; it orchestrates the dialogue with the unit
// (upload/) over its serial component, its wake-up timer and its log.
#pragma once

#include "platform/Component.h"
#include "platform/Exception.h"
#include "upload/PacketText.h"

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
namespace upload {
class UnitRecorder;
}

// Where the unit stands in its upload cycle.
enum DialogueStateValue : std::uint8_t
{
    WaitingForUnit = 0,
    Connected = 1,
    Uploading = 2,
    AwaitingProgramResult = 3,
    AwaitingCrcResult = 4,
};

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
    std::uint8_t DialogueState() const { return FDialogueState; }
    bool ConnectRequested() const { return FConnectRequested; }
    bool CancelRequest() const { return FCancelRequest; }
    bool XoffShown() const { return FXoffShown; }
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

    // The dialogue and the transfer (upload/).
    void FlushQueues();
    void TransferFile();
    void UpdateXoffIndicator(bool held);
    void ShowResult(const AnsiString& statusText, std::uint8_t nextState);
    void ReaderFailed(const AnsiString& errorText);
    // Closes a port whose line failed, once no transfer and no handler of the port uses it.
    void ReleaseFailedLine();

    // The firmware check (upload/FileCheck.cpp) and the unit record (upload/UnitCycle.cpp).
    bool CheckFirmwareFile(const AnsiString& path);
    void BeginUnitRecord(const AnsiString& path);
    void EndUnitRecord(const AnsiString& failure, bool cancelled);
    upload::UnitRecorder& UnitRecords();
    // Once, after a port opened: says so when the log or the unit record cannot be written.
    void ShowFolderWarning();

    std::unique_ptr<Ui::TForm1> ui;
    std::unique_ptr<TPageFocus> pageFocus;
    TAnchors* commAnchors = nullptr;
    TAnchors* uploadAnchors = nullptr;

    // Private state, in the order the window declares it.
    std::unique_ptr<TIniFile> FIniFile;
    bool FXoffShown = false;
    std::uint8_t FDialogueState = WaitingForUnit;
    bool FCancelRequest = false;
    bool FConnectRequested = false;
    std::deque<AnsiString> StatusQueue;
    std::deque<AnsiString> ReceivedQueue;
    std::deque<AnsiString> DisplayQueue;
    // Help text shown before the connected instructions replaced it; restored at a result.
    AnsiString helpTextBeforeInstructions;
    bool transferRunning = false;
    // The end of the last packet that may begin a message the next packet completes.
    upload::MessageJoin messageJoin;
    // Created with the first cycle; its deleter lives with the class.
    std::unique_ptr<upload::UnitRecorder, void (*)(upload::UnitRecorder*)> unitRecorder{nullptr,
                                                                                        nullptr};
    // The terminal pane's text gathered by ShowInTerminal, and when the pane last changed.
    AnsiString terminalBacklog;
    qsizetype terminalBacklogLength = 0;
    std::chrono::steady_clock::time_point terminalShown{};
    QTimer* terminalTimer = nullptr;
    // The window was closed during a transfer: it closes once the transfer has ended.
    bool closeAfterTransfer = false;
    // The open port's line failed (read or wake-up write): reported once, no more wake-up
    // bytes until the port is opened again.
    bool lineFailed = false;
};

// The main window, set while it exists.
extern TForm1* Form1;
