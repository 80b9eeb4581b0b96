#include "app/Uploader.h"

#include "app/Anchors.h"
#include "app/FormStyle.h"
#include "app/Help.h"
#include "app/UploaderHost.h"
#include "app/ui_Uploader.h"
#include "components/QuickLogFile.h"
#include "components/ThdTimer.h"
#include "platform/Application.h"
#include "platform/OpenDialog.h"
#include "platform/PageFocus.h"
#include "platform/ProfileFile.h"
#include "serial/MyCom.h"
#include "upload/UnitRecord.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QStatusBar>
#include <QTimer>

TForm1* Form1 = nullptr;

namespace {

// The size of a tab page's client area that the pages' controls were designed for.
constexpr QSize DesignPage(208, 109);
constexpr int TabControlHeight = 137;
constexpr int StatusBarHeight = 19;
// How often the engine is told that time passed (the hold's age is shown in seconds).
constexpr std::chrono::milliseconds EngineClockInterval{1000};

// Makes a window stay on top of other windows, or not; a visible window stays visible.
void SetStaysOnTop(QWidget* window, bool on)
{
    if (window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == on)
        return;
    const bool visible = window->isVisible();
    const QPoint place = window->pos();
    // Changing the window flags hides the window; it is shown again where it was.
    window->setWindowFlag(Qt::WindowStaysOnTopHint, on);
    window->move(place);
    if (visible)
        window->show();
}

// What the status bar's text needs beyond its width before the bar cuts it (its frame and
// the size grip's side).
constexpr int StatusBarTextMargin = 8;

enum class StatusKind
{
    Plain,
    Pass,
    Fail,
};

// The unit's verdicts and the failures that stop a cycle stand out; everything else is plain.
StatusKind KindOfStatus(std::string_view text)
{
    if (const auto outcome = upload::OutcomeOfStatus(text))
        return *outcome == upload::UnitOutcome::CrcOk ? StatusKind::Pass : StatusKind::Fail;
    for (const std::string_view failure :
         {"Upload Failed!!!", "File check failed:", "Read Error:", "Send Error:"})
        if (text.starts_with(failure))
            return StatusKind::Fail;
    return StatusKind::Plain;
}

QString StatusStyle(StatusKind kind)
{
    switch (kind) {
    case StatusKind::Pass:
        return "color: #006400; font-weight: bold;";
    case StatusKind::Fail:
        return "color: #b00000; font-weight: bold;";
    case StatusKind::Plain:
        break;
    }
    return {};
}

// "CRC Bad" for "CRC Bad!!!  Waiting for Connection...": a cycle's final word, short enough
// for the Upload page's line; empty for any other text.
std::string VerdictName(std::string_view text)
{
    return upload::OutcomeOfStatus(text) ? std::string(text.substr(0, text.find("!!!")))
                                         : std::string();
}

} // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::TForm1>())
{
    Form1 = this;
    ui->setupUi(this);

    PageControl1 = ui->PageControl1;
    CommSheet = ui->CommSheet;
    UploadSheet = ui->UploadSheet;
    cbComPort = ui->cbComPort;
    cbBaudRate = ui->cbBaudRate;
    ProgressBar1 = ui->ProgressBar1;
    ckbSingleStep = ui->ckbSingleStep;
    ckbAddLF = ui->ckbAddLF;
    ckbXonXoff = ui->ckbXonXoff;
    XoffLabel = ui->XoffLabel;
    LastVerdict = ui->LastVerdict;
    Panel1 = ui->Panel1;
    StatusBar1 = ui->StatusBar1;
    Label1 = ui->Label1;
    Label2 = ui->Label2;
    Memo1 = ui->Memo1;
    Panel2 = ui->Panel2;
    bBrowse = ui->bBrowse;
    bCancel = ui->bCancel;
    Panel3 = ui->Panel3;
    cAlwaysOnTop = ui->cAlwaysOnTop;
    bDisplayHelp = ui->bDisplayHelp;
    ConnectButton = ui->ConnectButton;

    // The look: the form's fonts, icon and the indicator's colour.
    setFont(formstyle::FormFont());
    Label1->setFont(formstyle::LabelFont());
    Label2->setFont(formstyle::LabelFont());
    setWindowIcon(formstyle::WindowIcon());
    XoffLabel->setBackgroundRole(QPalette::Button);
    // The indicator shares its row with the progress bar: keep it in front of the bar. Its
    // designed width is that of the caption in the original face; widen it to the left (it
    // keeps its distance from the right edge) when this face needs more.
    XoffLabel->raise();
    if (const int needed = XoffLabel->fontMetrics().horizontalAdvance(XoffLabel->text()) + 1;
        needed > XoffLabel->width()) {
        const QRect designed = XoffLabel->geometry();
        XoffLabel->setGeometry(designed.right() + 1 - needed, designed.y(), needed,
                               designed.height());
    }
    // The boxes take the operator's text as typed: no completion, no new list entries.
    for (QComboBox* box : {cbComPort, cbBaudRate}) {
        box->setCompleter(nullptr);
        box->setInsertPolicy(QComboBox::NoInsert);
    }
    Memo1->setUndoRedoEnabled(false);

    // Anchors of the tab pages' controls; the window's own areas are placed by
    // LayoutControls.
    commAnchors = new TAnchors(CommSheet, DesignPage);
    commAnchors->Add(Label1, akLeft | akTop);
    commAnchors->Add(Label2, akLeft | akTop);
    commAnchors->Add(cbComPort, akLeft | akTop);
    commAnchors->Add(cbBaudRate, akLeft | akTop);
    commAnchors->Add(ckbAddLF, akTop);
    commAnchors->Add(ckbXonXoff, akTop);
    commAnchors->Add(Panel3, akTop);
    commAnchors->Add(cAlwaysOnTop, akLeft);
    commAnchors->Add(bDisplayHelp, akLeft | akTop);
    commAnchors->Add(ConnectButton, akLeft | akTop);
    uploadAnchors = new TAnchors(UploadSheet, DesignPage);
    // The indicator sits in the progress bar's row. The page's height never changes with the
    // window's, but this style's page is a little lower than the designed one: anchoring to
    // the bottom keeps the indicator in that row and inside the page.
    uploadAnchors->Add(XoffLabel, akBottom | akRight);
    uploadAnchors->Add(ckbSingleStep, akLeft | akTop);
    uploadAnchors->Add(LastVerdict, akLeft | akRight | akTop);
    uploadAnchors->Add(Panel2, akTop);
    // Aligned to the page's bottom edge: stretches with the page's width.
    uploadAnchors->Add(ProgressBar1, akLeft | akRight | akBottom);

    // The non-visual components with the settings of the form.
    MyCom1 = new TMyCom(this);
    MyCom1->SetBufSize(1024);
    MyCom1->SetBaud(115200);
    MyCom1->SetPacketSize(160);
    MyCom1->SetTimeout(10);
    MyCom1->SetDtrControl(dtrHandshake);
    ThreadedTimer1 = new TThreadedTimer(this);
    OpenDialog1 = new TOpenDialog(this);
    OpenDialog1->Filter = "Out Files (*.out)|*.out|All (*.*)|*.*";
    LogFile = new TQuickLogFile(this);
    LogFile->LogFileName = "Orvix500Upload.Log";

    host = std::make_unique<TForm1Host>(*this);
    engine = std::make_unique<upload::UploadEngine>(*host);
    clockTimer = new QTimer(this);
    clockTimer->setInterval(EngineClockInterval);
    connect(clockTimer, &QTimer::timeout, this,
            [this] { Application->HandleEvent([this] { engine->ClockTick(); }); });
    clockTimer->start();

    pageFocus = std::make_unique<TPageFocus>(PageControl1);
    BindEvents();

    // The window's place and size on the screen (96 pixels per inch).
    move(254, 98);
    resize(224, 225);
    LayoutControls();

    Application->HandleEvent([this] { FormCreate(this); });

    // The boxes' change events are bound after the start-up has filled the boxes, so that
    // only the operator's changes (and later ones of the program) run them.
    connect(cbComPort, &QComboBox::currentTextChanged, this, [this] {
        // The choice that changed the text is handled here, not again by `activated`.
        portChosenNow = true;
        QTimer::singleShot(0, this, [this] { portChosenNow = false; });
        Application->HandleEvent([this] { cbComPortChange(cbComPort); });
    });
    // Choosing the port that is already chosen changes no text: when it is not open (its device
    // was missing, busy or not permitted, or its line failed) the choice tries it again.
    connect(cbComPort, &QComboBox::activated, this, [this] {
        if (!portChosenNow && (!MyCom1->Initialized || engine->Failed()) && !engine->Transferring())
            Application->HandleEvent([this] { cbComPortChange(cbComPort); });
    });
    connect(cbBaudRate, &QComboBox::currentTextChanged, this,
            [this] { Application->HandleEvent([this] { cbBaudRateChange(cbBaudRate); }); });

    // The control that takes the focus first, when the window is first shown.
    cbComPort->setFocus(Qt::OtherFocusReason);
}

TForm1::~TForm1()
{
    // The boxes' edits lose the focus while the window's children are destroyed, after this
    // body: their handlers must not run on a window that is half gone.
    for (QComboBox* box : {cbComPort, cbBaudRate}) {
        box->disconnect(this);
        if (box->lineEdit())
            box->lineEdit()->disconnect(this);
    }
    // A transfer still running ends as cancelled and a cycle still open is recorded.
    engine->Close();
    // The timer's worker and the port's reader hand their events to this window: stop them
    // while every control still exists. Closing the port also handles window messages.
    delete ThreadedTimer1;
    ThreadedTimer1 = nullptr;
    delete MyCom1;
    MyCom1 = nullptr;
    pageFocus.reset();
    if (Form1 == this)
        Form1 = nullptr;
}

void TForm1::BindEvents()
{
    // Every handler runs through the application object, which shows an exception that
    // leaves it and lets the program go on.
    const auto bindClick = [this](QAbstractButton* control, void (TForm1::*handler)(TObject*)) {
        connect(control, &QAbstractButton::clicked, this, [this, control, handler] {
            Application->HandleEvent([this, control, handler] { (this->*handler)(control); });
        });
    };
    // A check box's click event follows its checked state, also when the program sets it.
    const auto bindToggle = [this](QCheckBox* control, void (TForm1::*handler)(TObject*)) {
        connect(control, &QCheckBox::toggled, this, [this, control, handler] {
            Application->HandleEvent([this, control, handler] { (this->*handler)(control); });
        });
    };
    bindToggle(ckbXonXoff, &TForm1::ckbXonXoffClick);
    bindToggle(cAlwaysOnTop, &TForm1::cAlwaysOnTopClick);
    bindToggle(bDisplayHelp, &TForm1::bDisplayHelpClick);
    bindClick(ConnectButton, &TForm1::ConnectButtonClick);
    bindClick(bBrowse, &TForm1::bBrowseClick);
    bindClick(bCancel, &TForm1::bCancelClick);

    pageFocus->SetOnEnter(
        CommSheet, [this] { Application->HandleEvent([this] { CommSheetEnter(CommSheet); }); });

    MyCom1->OnPacketReceived = [this](TObject* Sender, AnsiString& buffer) {
        Application->HandleEvent([&] { MyCom1PacketReceived(Sender, buffer); });
    };
    MyCom1->OnStatusChanged = [this](TObject* Sender, bool cts, bool dsr, bool ring, bool rlsd) {
        Application->HandleEvent([&] { MyCom1StatusChanged(Sender, cts, dsr, ring, rlsd); });
    };
    MyCom1->OnReadError = [this](TObject*, const AnsiString& errorText) {
        Application->HandleEvent([&] { ReaderFailed(errorText); });
    };
    MyCom1->OnSendProgress = [this](TObject* Sender, const TSendReport& report) {
        Application->HandleEvent([&] { MyCom1SendProgress(Sender, report); });
    };
    ThreadedTimer1->OnTimer = [this](TObject* Sender) {
        Application->HandleEvent([&] { ThreadedTimer1Timer(Sender); });
    };
}

void TForm1::FormCreate(TObject*)
{
    cbComPort->setCurrentIndex(1);
    LogFile->LogToFile = true;
    LoadConfiguration();
    OpenPortAtStartup();
    engine->Started();
    ShowPortError();
    SetActivePage(CommSheet);
}

void TForm1::FormClose(TObject*)
{
    LogFile->LogToFile = false;
    ThreadedTimer1->SetEnabled(false);
}

void TForm1::cAlwaysOnTopClick(TObject*)
{
    const bool on = cAlwaysOnTop->isChecked();
    SetStaysOnTop(this, on);
    if (HelpForm)
        HelpForm->SetStayOnTop(on);
}

void TForm1::bDisplayHelpClick(TObject*)
{
    if (!HelpForm)
        return;
    if (bDisplayHelp->isChecked()) {
        HelpForm->show();
        HelpForm->raise();
    } else {
        HelpForm->close();
    }
}

void TForm1::SetStatus(const AnsiString& text)
{
    const QString shown = QString::fromLocal8Bit(text.data(), qsizetype(text.size()));
    StatusBar1->showMessage(shown);
    // A text the bar cuts is there whole on hover.
    const int room = StatusBar1->width() - StatusBarTextMargin;
    const bool cut = StatusBar1->fontMetrics().horizontalAdvance(shown) > room;
    StatusBar1->setToolTip(cut ? shown : QString());
    // A verdict stands apart by its colour, and stays on the Upload page until the next one.
    const StatusKind kind = KindOfStatus(text);
    // A failure the bar cuts, other than a verdict, is also shown whole in the pane: the
    // operator needs all of "File check failed: line 66: …" to act on it.
    if (cut && kind == StatusKind::Fail && VerdictName(text).empty())
        ShowNotice(text);
    StatusBar1->setStyleSheet(StatusStyle(kind));
    if (const std::string verdict = VerdictName(text); !verdict.empty()) {
        LastVerdict->setText(QString::fromStdString("Last unit: " + verdict));
        LastVerdict->setStyleSheet(StatusStyle(kind));
    }
}

AnsiString TForm1::StatusText() const
{
    return StatusBar1->currentMessage().toLocal8Bit().toStdString();
}

void TForm1::SetActivePage(QWidget* page)
{
    pageFocus->SetActivePage(page);
}

void TForm1::DisableControl(QWidget* control)
{
    pageFocus->DisableControl(control);
}

void TForm1::closeEvent(QCloseEvent* event)
{
    // A transfer running ends as Cancel ends it ("Upload Canceled", the record written), and
    // the window closes at once: nothing waits for the line.
    Application->HandleEvent([this] { engine->Close(); });
    Application->HandleEvent([this] { FormClose(this); });
    event->accept();
}

void TForm1::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    LayoutControls();
}

void TForm1::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    LayoutControls();
}

void TForm1::LayoutControls()
{
    // Tab control along the top edge at its designed height, status bar along the bottom
    // edge, the terminal's panel in between, the terminal filling the panel inside its bevel.
    const int w = width();
    const int h = height();
    PageControl1->setGeometry(0, 0, w, TabControlHeight);
    StatusBar1->setGeometry(0, h - StatusBarHeight, w, StatusBarHeight);
    Panel1->setGeometry(0, TabControlHeight, w,
                        std::max(0, h - TabControlHeight - StatusBarHeight));
    const int bevel = Panel1->frameWidth();
    Memo1->setGeometry(bevel, bevel, std::max(0, Panel1->width() - 2 * bevel),
                       std::max(0, Panel1->height() - 2 * bevel));
}
