// The whole upload cycle, operator's view: the real main window on the offscreen platform,
// driven by its controls, against the unit simulator on a pseudo-terminal.
#include "app/Help.h"
#include "app/Uploader.h"
#include "components/ThdTimer.h"
#include "platform/Application.h"
#include "platform/OpenDialog.h"
#include "serial/MyCom.h"
#include "tests/support/TestApp.h"
#include "tests/upload_cycle/UnitBench.h"
#include "upload/DotCounter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <array>
#include <cstdint>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;
using unitbench::CrcOk;
using unitbench::Greeted;
using unitbench::ProcessUntil;
using unitbench::Quick;
using unitbench::ReadBytes;
using unitbench::SlowFlash;
using unitbench::Unpaced;
using unitbench::WithLineAt;

namespace {

class UploadCycle : public testing::Test
{
protected:
    void SetUp() override { testapp::ResetRecorders(); }

    // Starts the simulator with `options` and then the window in its directory.
    void Start(const QStringList& options)
    {
        unit = std::make_unique<unitbench::SimulatedUnit>(ORVIX_SIM_PATH, options);
        ASSERT_EQ(unit->Error(), "");
        tool = std::make_unique<unitbench::Uploader>();
        form = &tool->Form();
    }

    void TearDown() override
    {
        tool.reset();
        unit.reset();
        EXPECT_EQ(testapp::ShownExceptions(), std::vector<AnsiString>{});
    }

    // Presses Connect and waits for the unit's greeting to be recognised.
    void ConnectToUnit()
    {
        tool->Click(form->ConnectButton);
        ASSERT_TRUE(tool->WaitForStatus(Greeted)) << "status: " << tool->Status();
    }

    QString Firmware(int size, const QStringList& extra = {})
    {
        const QString path = unit->MakeFirmware("firmware.out", size, extra);
        EXPECT_FALSE(path.isEmpty()) << unit->Error().toStdString();
        return path;
    }

    // The last cycle of the simulator's report, once it has `count` cycles.
    QJsonObject UnitReport(int count = 1)
    {
        EXPECT_TRUE(unit->WaitForUnits(count, 20s)) << unit->Trace().toStdString();
        const QJsonArray units = unit->Units();
        return units.isEmpty() ? QJsonObject() : units.last().toObject();
    }

    // The simulator's account of a cycle: the tool never overran the unit's buffer, and (the
    // line is unpaced) wrote nothing after the unit's XOFF before its XON, also after Cancel,
    // whose purge keeps the hold.
    static void ExpectCleanFlow(const QJsonObject& cycle)
    {
        EXPECT_EQ(cycle.value("overrun_bytes").toInt(-1), 0);
        EXPECT_EQ(cycle.value("bytes_after_xoff").toInt(-1), 0);
    }

    // True when `expected` occur in `texts` in this order (others may stand between).
    static testing::AssertionResult InOrder(const QStringList& texts, const QStringList& expected)
    {
        qsizetype from = 0;
        for (const QString& text : expected) {
            const qsizetype at = texts.indexOf(text, from);
            if (at < 0)
                return testing::AssertionFailure()
                       << "missing in order: \"" << text.toStdString() << "\" in\n"
                       << texts.join("\n").toStdString();
            from = at + 1;
        }
        return testing::AssertionSuccess();
    }

    std::unique_ptr<unitbench::SimulatedUnit> unit;
    std::unique_ptr<unitbench::Uploader> tool;
    TForm1* form = nullptr;
};

TEST_F(UploadCycle, GreetingIsOnlyShownBeforeConnectAndRecognisedAfter)
{
    Start(Quick);
    // The wake-up byte goes out from the start, so the unit greets before Connect.
    ASSERT_TRUE(ProcessUntil([&] { return tool->Terminal().contains("Please start up--"); }, 5s));
    EXPECT_EQ(form->DialogueState(), WaitingForUnit);
    EXPECT_FALSE(form->ConnectRequested());
    EXPECT_FALSE(form->bBrowse->isEnabled());
    EXPECT_EQ(form->PageControl1->currentWidget(), form->CommSheet);
    EXPECT_FALSE(tool->LogTexts().join("\n").contains("Please start up"));

    tool->Click(form->ConnectButton);
    EXPECT_EQ(tool->Status(), "Waiting for connection to be established...");
    ASSERT_TRUE(tool->WaitForStatus(Greeted));
    EXPECT_EQ(form->DialogueState(), Connected);
    EXPECT_EQ(form->PageControl1->currentWidget(), form->UploadSheet);
    EXPECT_TRUE(form->bBrowse->isEnabled());
    EXPECT_EQ(form->ProgressBar1->value(), 0);
    EXPECT_FALSE(form->ThreadedTimer1->Enabled()) << "no more wake-up bytes";
    EXPECT_TRUE(tool->Terminal().endsWith("Please start up--"));
    EXPECT_TRUE(InOrder(tool->LogTexts(),
                        {"status : waiting for connection...", "status : Connection established"}));
    EXPECT_FALSE(tool->LogTexts().join("\n").contains("received : Please start up"));
}

TEST_F(UploadCycle, WholeCycleEndsWithCrcOk)
{
    Start(Quick);
    const QString path = Firmware(8192);
    const QByteArray bytes = [&] {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    ConnectToUnit();

    tool->SelectFile(path);
    // The transfer is over when the click's handler returns.
    EXPECT_EQ(tool->Status(), "Finished Uploading");
    EXPECT_FALSE(form->bBrowse->isEnabled());
    EXPECT_EQ(form->ProgressBar1->maximum(), bytes.size() / 4);
    EXPECT_EQ(form->ProgressBar1->value(), form->ProgressBar1->maximum());
    EXPECT_FALSE(form->XoffShown());
    EXPECT_TRUE(tool->StatusHistory().contains("Number of Lines: 10"));
    EXPECT_TRUE(tool->StatusHistory().contains("Number of Lines: 20"));

    ASSERT_TRUE(tool->WaitForStatus(CrcOk))
        << tool->Terminal().toStdString() << unit->Trace().toStdString()
        << tool->LogTexts().join("\n").toStdString();
    EXPECT_EQ(form->DialogueState(), WaitingForUnit);
    EXPECT_TRUE(form->ConnectRequested()) << "no control had the focus: nothing was entered";
    EXPECT_EQ(form->PageControl1->currentWidget(), form->CommSheet);
    EXPECT_TRUE(tool->Terminal().contains("Erasing--"));
    EXPECT_TRUE(tool->Terminal().endsWith("CRC is OK--"));
    EXPECT_EQ(tool->HelpText(), THelpForm::InitialText);

    const QStringList log = tool->LogTexts();
    EXPECT_TRUE(
        InOrder(log, {"status : waiting for connection...", "status : Connection established",
                      "status : Opening file " + path, "status : Transferring file " + path,
                      "status : Finished Uploading", "received : Erasing--",
                      "status : Programming Complete.  Checking CRC...", "received : CRC is OK--",
                      "status : " + CrcOk}));
    EXPECT_FALSE(log.join("\n").contains("Number of Lines"));

    const QJsonObject cycle = UnitReport();
    EXPECT_EQ(cycle.value("result").toString(), "crc-ok");
    // Every byte but the CRs, and the lone LF of the read that noticed the end.
    EXPECT_EQ(cycle.value("bytes").toInt(), bytes.size() - bytes.count('\r') + 1);
    ExpectCleanFlow(cycle);

    QFile ini("Uploader.ini");
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    EXPECT_TRUE(ini.readAll().contains(("FileName=" + path).toLocal8Bit()));
}

// A pause on the line can cut a result message into two packets (a busy machine, an adapter
// that delivers in pieces): the result is recognised all the same, and the state's purge does
// not throw away the rest of a message that has begun.
TEST_F(UploadCycle, AResultCutIntoTwoPacketsIsRecognised)
{
    const struct
    {
        QStringList faults;
        QString verdict;
        const char* result;
    } cases[] = {
        {{"--fault", "split-results"}, CrcOk, "crc-ok"},
        {{"--fault", "split-results", "--fault", "bad-crc"},
         "CRC Bad!!!  Waiting for Connection...",
         "crc-bad"},
        {{"--fault", "split-results", "--fault", "program-fail"},
         "Programming Failed!!!  Waiting for Connection...",
         "programming-failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.result);
        tool.reset();
        unit.reset();
        Start(Quick + c.faults);
        const QString path = Firmware(2048);
        ConnectToUnit();
        tool->SelectFile(path);
        ASSERT_TRUE(tool->WaitForStatus(c.verdict))
            << tool->Terminal().toStdString() << tool->LogTexts().join("\n").toStdString();
        EXPECT_EQ(form->DialogueState(), WaitingForUnit);
        EXPECT_EQ(UnitReport().value("result").toString(), c.result);
    }
}

// The unit as it comes: a 115200 bit/s line, its own buffer and flash rate, so it holds the
// line with XOFF again and again; when the transfer ends, the file's tail still waits on the
// line while the unit's progress text makes the tool purge the port.
TEST_F(UploadCycle, WholeCycleOnAPacedLineUnderXonXoff)
{
    Start({"--pause-ms", "100", "--line-timeout", "2"});
    const QString path = Firmware(4096);
    ConnectToUnit();
    tool->SelectFile(path);
    EXPECT_EQ(tool->Status(), "Finished Uploading");
    ASSERT_TRUE(tool->WaitForStatus(CrcOk)) << tool->Terminal().toStdString();
    const QJsonObject cycle = UnitReport();
    EXPECT_EQ(cycle.value("result").toString(), "crc-ok");
    EXPECT_GT(cycle.value("xoff_sent").toInt(), 0);
    EXPECT_EQ(cycle.value("overrun_bytes").toInt(-1), 0);
}

TEST_F(UploadCycle, ThreeUnitsInARowWithoutPressingConnectAgain)
{
    QStringList options = Quick;
    options << "--greet-after"
            << "0.5";
    Start(options);
    const QString path = Firmware(2048);
    ConnectToUnit();
    for (int n = 1; n <= 3; ++n) {
        SCOPED_TRACE("unit " + std::to_string(n));
        ASSERT_TRUE(tool->WaitForStatus(Greeted)) << tool->Status();
        tool->SelectFile(path);
        ASSERT_TRUE(tool->WaitForStatus(CrcOk)) << tool->Status();
        EXPECT_EQ(UnitReport(n).value("result").toString(), "crc-ok");
    }
    const QStringList log = tool->LogTexts();
    EXPECT_EQ(log.count("status : waiting for connection..."), 1);
    EXPECT_EQ(log.count("status : Connection established"), 3);
    EXPECT_EQ(log.count("status : " + CrcOk), 3);
    for (const QJsonValue& cycle : unit->Units())
        ExpectCleanFlow(cycle.toObject());
}

TEST_F(UploadCycle, TheUnitsVerdictsAreShownAndLogged)
{
    const struct
    {
        QStringList simOptions;
        // The transfer ended before the verdict: the unit gave up under its own hold.
        bool finished;
        QString status;
        QString received;
        const char* result;
    } cases[] = {
        {{"--fault", "bad-crc"},
         true,
         "CRC Bad!!!  Waiting for Connection...",
         "CRC is BAD--",
         "crc-bad"},
        {{"--fault", "program-fail"},
         true,
         "Programming Failed!!!  Waiting for Connection...",
         "programming failed--",
         "programming-failed"},
        // The unit stops the line early, never lets it go, and gives up after 2 s.
        {{"--fault", "never-xon", "--xoff-at", "256", "--xon-at", "128", "--line-timeout", "2"},
         false,
         "Download Failed!!!  Waiting for Connection...",
         "Download failed--",
         "download-failed"},
        {{"--fault", "dotted-results"}, true, CrcOk, "CRC is OK--", "crc-ok"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.result);
        Start(Quick + c.simOptions);
        // A unit that gives up gets a file larger than a pseudo-terminal holds, so that its
        // XOFF, not the pty's buffer, decides what reaches it.
        const QString path = Firmware(c.finished ? 2048 : 32768);
        ConnectToUnit();
        tool->SelectFile(path);
        EXPECT_TRUE(tool->WaitForStatus(c.status)) << tool->Status();
        EXPECT_EQ(form->DialogueState(), WaitingForUnit);
        EXPECT_EQ(form->PageControl1->currentWidget(), form->CommSheet);
        EXPECT_TRUE(tool->Terminal().endsWith(c.received));
        EXPECT_TRUE(
            InOrder(tool->LogTexts(), {"status : Transferring file " + path,
                                       "received : " + c.received, "status : " + c.status}));
        EXPECT_EQ(tool->LogTexts().contains("status : Finished Uploading"), c.finished);
        const QJsonObject cycle = UnitReport();
        EXPECT_EQ(cycle.value("result").toString(), c.result);
        ExpectCleanFlow(cycle);
        tool.reset();
        unit.reset();
    }
}

TEST_F(UploadCycle, CancelDuringAnXoffHold)
{
    // The unit's flash is slow: it holds the line with XOFF again and again.
    Start(SlowFlash);
    const QString path = Firmware(16384);
    ConnectToUnit();

    bool cancelled = false;
    bool indicatorRed = false;
    QWidget* pageAfterCancel = nullptr;
    bool connectRequestedAfterCancel = true;
    tool->SelectFile(path, [&] {
        if (cancelled || !form->XoffShown())
            return;
        indicatorRed =
            form->XoffLabel->isEnabled() &&
            form->XoffLabel->palette().color(form->XoffLabel->backgroundRole()) == QColor(Qt::red);
        cancelled = true;
        tool->Click(form->bCancel);
        pageAfterCancel = form->PageControl1->currentWidget();
        connectRequestedAfterCancel = form->ConnectRequested();
    });
    ASSERT_TRUE(cancelled) << "the unit never held the line";
    EXPECT_TRUE(indicatorRed);
    EXPECT_EQ(pageAfterCancel, form->CommSheet);
    EXPECT_FALSE(connectRequestedAfterCancel) << "the Cancel button's focus entered Comm Setup";

    EXPECT_EQ(tool->Status(), "Upload Canceled");
    EXPECT_EQ(form->DialogueState(), AwaitingProgramResult);
    EXPECT_FALSE(form->CancelRequest());
    EXPECT_FALSE(form->ConnectRequested());
    EXPECT_FALSE(form->XoffShown());
    EXPECT_FALSE(form->XoffLabel->isEnabled());
    EXPECT_NE(form->XoffLabel->palette().color(form->XoffLabel->backgroundRole()), QColor(Qt::red));
    EXPECT_TRUE(InOrder(tool->LogTexts(),
                        {"status : Transferring file " + path, "status : Upload Canceled"}));

    // The unit gives up on the unfinished download: only shown, since Connect was not pressed
    // again.
    const QJsonObject cycle = UnitReport();
    EXPECT_NE(cycle.value("result").toString(), "crc-ok");
    ExpectCleanFlow(cycle);
    ASSERT_TRUE(ProcessUntil([&] { return tool->Terminal().contains("Download failed--"); }, 10s));
    EXPECT_EQ(tool->Status(), "Upload Canceled");
    EXPECT_FALSE(tool->LogTexts().join("\n").contains("Download failed"));
}

TEST_F(UploadCycle, ConnectAfterACancelledUploadWaitsForTheNextUnit)
{
    Start(Quick);
    const QString path = Firmware(65536);
    ConnectToUnit();
    bool cancelled = false;
    // Cancelled once lines have gone out, so that the unit began a download.
    tool->SelectFile(path, [&] {
        if (!cancelled && tool->Status().rfind("Number of Lines: ", 0) == 0) {
            cancelled = true;
            tool->Click(form->bCancel);
        }
    });
    ASSERT_TRUE(cancelled);
    EXPECT_EQ(tool->Status(), "Upload Canceled");
    ASSERT_EQ(form->DialogueState(), AwaitingProgramResult);
    ASSERT_FALSE(form->ConnectRequested());
    // The unit's verdict on the unfinished download is only shown.
    ASSERT_TRUE(ProcessUntil([&] { return tool->Terminal().contains("Download failed--"); }, 15s));

    tool->Click(form->ConnectButton);
    EXPECT_EQ(form->DialogueState(), WaitingForUnit);
    EXPECT_EQ(tool->Status(), "Waiting for connection to be established...");
    ASSERT_TRUE(tool->WaitForStatus(Greeted)) << tool->Status();
    EXPECT_FALSE(tool->LogTexts().join("\n").contains("received : Please start up"));
}

TEST_F(UploadCycle, AUnitThatNeverSendsXonIsLeftWithCancel)
{
    Start(SlowFlash + QStringList{"--fault", "never-xon"});
    const QString path = Firmware(8192);
    ConnectToUnit();

    std::chrono::steady_clock::time_point heldSince{};
    bool cancelled = false;
    int ticksWhileHeld = 0;
    tool->SelectFile(path, [&] {
        if (cancelled || !form->XoffShown())
            return;
        // The window goes on handling its messages during the hold: this very call is one.
        ++ticksWhileHeld;
        const auto now = std::chrono::steady_clock::now();
        if (heldSince == std::chrono::steady_clock::time_point{})
            heldSince = now;
        if (now - heldSince >= 1s) {
            cancelled = true;
            tool->Click(form->bCancel);
        }
    });
    ASSERT_TRUE(cancelled);
    EXPECT_GT(ticksWhileHeld, 10);
    EXPECT_EQ(tool->Status(), "Upload Canceled");
    EXPECT_EQ(form->DialogueState(), AwaitingProgramResult);
    EXPECT_FALSE(form->XoffShown());
    ExpectCleanFlow(UnitReport());
}

TEST_F(UploadCycle, AnUnpluggedAdapterIsReportedAndTheOperatorRecovers)
{
    Start(Quick + QStringList{"--fault", "unplug-after=3000"});
    const QString path = Firmware(8192);
    ConnectToUnit();

    tool->SelectFile(path);
    // Whatever the transfer met first (the read or a write failing), it has ended, and the
    // failure is reported once.
    EXPECT_EQ(form->DialogueState(), AwaitingProgramResult);
    const QRegularExpression failure("^status : (Read|Send) Error: ");
    ASSERT_TRUE(ProcessUntil([&] { return !tool->LogTexts().filter(failure).isEmpty(); }, 10s))
        << tool->LogTexts().join("\n").toStdString();
    EXPECT_EQ(tool->LogTexts().filter(failure).size(), 1);
    EXPECT_TRUE(tool->StatusHistory().filter(QRegularExpression("(Read|Send) Error: ")).size() > 0);
    // The log says what the code means and what to do.
    const QStringList log = tool->LogTexts();
    const qsizetype error = log.indexOf(QRegularExpression("^status : (Read|Send) Error: 5$"));
    ASSERT_GE(error, 0) << log.join("\n").toStdString();
    EXPECT_EQ(log.value(error + 1), "port help : Input/output error: the adapter was unplugged or "
                                    "failed; plug it in and choose the port again");
    EXPECT_EQ(UnitReport().value("result").toString(), "aborted");

    // The adapter is back: choosing the port again reopens it, and Connect finds the unit.
    ASSERT_TRUE(ProcessUntil([&] { return unit->Trace().contains("line back on"); }, 10s));
    form->cbComPort->setCurrentIndex(0);
    form->cbComPort->setCurrentIndex(1);
    ConnectToUnit();
}

TEST_F(UploadCycle, UploadToAPortThatIsNotOpenFails)
{
    // COM3 of the port map names a device that is not there.
    unit = std::make_unique<unitbench::SimulatedUnit>(ORVIX_SIM_PATH, Quick);
    ASSERT_EQ(unit->Error(), "");
    unit->WriteFile("Uploader.ini", ReadBytes(unit->Path("Uploader.ini")) +
                                        "COM3=" + unit->Path("missing").toLocal8Bit() + "\r\n");
    tool = std::make_unique<unitbench::Uploader>();
    form = &tool->Form();
    const QString path = Firmware(4096);
    ConnectToUnit();
    // The operator picks a port that cannot be opened, then Select File.
    form->cbComPort->setEditText("COM3");
    ASSERT_FALSE(form->MyCom1->Initialized);
    ASSERT_EQ(tool->Status(), "Comport Unavailable.");
    tool->SelectFile(path);
    EXPECT_EQ(tool->Status(), "Com not initialized.");
    EXPECT_EQ(form->DialogueState(), AwaitingProgramResult);
    const QStringList log = tool->LogTexts();
    EXPECT_TRUE(
        InOrder(log, {"status : Transferring file " + path, "status : Com not initialized."}));
    EXPECT_FALSE(log.contains("status : Finished Uploading"));
    EXPECT_LT(form->ProgressBar1->value(), form->ProgressBar1->maximum());
}

TEST_F(UploadCycle, ConnectOpensThePortOnceTheDeviceIsThere)
{
    // The window starts before the device exists.
    unit = std::make_unique<unitbench::SimulatedUnit>(ORVIX_SIM_PATH, Quick);
    ASSERT_EQ(unit->Error(), "");
    const QString later = unit->Path("ttyLATER");
    unit->WriteFile("Uploader.ini",
                    "[SystemSection]\r\n[Ports]\r\nCOM2=" + later.toLocal8Bit() + "\r\n");
    tool = std::make_unique<unitbench::Uploader>();
    form = &tool->Form();
    ASSERT_EQ(tool->Status(), "Comport Unavailable.");

    // Still no device: Connect says so instead of waiting.
    tool->Click(form->ConnectButton);
    EXPECT_EQ(tool->Status(), "Comport Unavailable.");
    EXPECT_TRUE(tool->LogTexts().contains("status : Comport Unavailable."));

    // The device appears: Connect opens it and finds the unit.
    ASSERT_TRUE(QFile::link(unit->Link(), later));
    tool->Click(form->ConnectButton);
    EXPECT_TRUE(form->MyCom1->Initialized);
    EXPECT_EQ(tool->Status(), "Waiting for connection to be established...");
    ASSERT_TRUE(tool->WaitForStatus(Greeted)) << tool->Status();
}

// How many of this process's descriptors are open on `path`.
int DescriptorsOpenOn(const QString& path)
{
    int count = 0;
    for (const QFileInfo& fd : QDir("/proc/self/fd").entryInfoList(QDir::System | QDir::Files))
        count += fd.symLinkTarget() == path ? 1 : 0;
    return count;
}

TEST_F(UploadCycle, ADeadLineIsReportedOnceAndConnectRecovers)
{
    // The adapter is pulled while the window waits: after the third wake-up byte.
    Start(Quick + QStringList{"--fault", "unplug-after=3"});
    const QString device = QFileInfo(unit->Link()).canonicalFilePath();
    ASSERT_FALSE(device.isEmpty());
    EXPECT_EQ(DescriptorsOpenOn(device), 1);
    ASSERT_TRUE(ProcessUntil([&] { return unit->Trace().contains("line pulled"); }, 15s))
        << unit->Trace().toStdString();
    // The vanished device is let go of, so that the kernel can give an adapter plugged in
    // again its old name.
    EXPECT_TRUE(ProcessUntil([&] { return !form->MyCom1->Reader; }, 5s));
    EXPECT_EQ(DescriptorsOpenOn(device), 0);
    // A few wake-up ticks on the dead line.
    testapp::ProcessFor(3500ms);
    EXPECT_EQ(testapp::ShownExceptions(), std::vector<AnsiString>{}) << "no box per tick";
    const QStringList faults =
        tool->LogTexts().filter(QRegularExpression("^status : (Send|Read) Error: "));
    ASSERT_EQ(faults.size(), 1) << tool->LogTexts().join("\n").toStdString();
    EXPECT_EQ("status : " + QString::fromStdString(tool->Status()), faults.front());
    testapp::ResetRecorders();

    // The adapter is back: Connect opens the port again and finds the unit.
    ASSERT_TRUE(ProcessUntil([&] { return unit->Trace().contains("line back on"); }, 10s));
    ConnectToUnit();
}

TEST_F(UploadCycle, APriorityThatCannotBeRaisedIsLoggedOncePerRun)
{
    Start(Quick);
    const QString path = Firmware(2048);
    ConnectToUnit();
    // The rest of the run as a user without the privilege to raise the priority (as root,
    // the effective user becomes nobody): the working directory and its files are made
    // theirs to write.
    const bool root = ::geteuid() == 0;
    if (root) {
        for (const QString& name :
             {QString(), QString("Uploader.ini"), QString("Orvix500Upload.Log")}) {
            const int mode = name.isEmpty() ? 0777 : 0666;
            ASSERT_EQ(::chmod(unit->Path(name).toLocal8Bit().constData(), mode), 0);
        }
        ASSERT_EQ(::seteuid(65534), 0);
    }
    struct BackToRoot
    {
        bool root;
        ~BackToRoot()
        {
            if (root) {
                EXPECT_EQ(::seteuid(0), 0);
            }
        }
    } backToRoot{root};

    for (int unitNumber = 1; unitNumber <= 2; ++unitNumber) {
        tool->SelectFile(path);
        ASSERT_TRUE(tool->WaitForStatus(CrcOk)) << tool->Status();
        if (unitNumber == 1) {
            ASSERT_TRUE(tool->WaitForStatus(Greeted)) << "the next unit";
        }
    }
    const QStringList told = tool->LogTexts().filter("status : Priority not raised: ");
    EXPECT_EQ(told, QStringList{"status : Priority not raised: Permission denied"});
}

TEST_F(UploadCycle, FileDialogCancelledOrFileThatCannotBeOpened)
{
    Start(Quick);
    ConnectToUnit();

    TOpenDialog::SetExecuteHook([](TOpenDialog&) { return false; });
    tool->Click(form->bBrowse);
    TOpenDialog::SetExecuteHook({});
    EXPECT_EQ(tool->Status(), "Could not open file.");
    EXPECT_TRUE(form->bBrowse->isEnabled());
    EXPECT_EQ(form->DialogueState(), Connected);

    const QString missing = unit->Path("missing.out");
    tool->SelectFile(missing);
    EXPECT_EQ(tool->Status(), "Unable to open " + missing.toStdString());
    EXPECT_EQ(form->DialogueState(), Connected);
    // The unit is still connected: the operator may choose another file at once.
    EXPECT_TRUE(form->bBrowse->isEnabled());
    const QStringList log = tool->LogTexts();
    EXPECT_TRUE(
        InOrder(log, {"status : Could not open file.", "status : Opening file " + missing,
                      "status : Unable to open " + missing, "status : No such file or directory"}));
    EXPECT_FALSE(log.join("\n").contains("Transferring"));

    // The chosen file's name cannot be saved: the unit is programmed all the same, and the
    // failed save is logged and shown in the pane, with no box to click away.
    const QString path = Firmware(1024);
    QFile::remove(unit->Path("Uploader.ini"));
    ASSERT_TRUE(QDir().mkdir(unit->Path("Uploader.ini")));
    tool->SelectFile(path);
    const QString unsaved = "Unable to write to " + unit->Path("Uploader.ini");
    EXPECT_EQ(testapp::ShownExceptions(), std::vector<AnsiString>{});
    EXPECT_TRUE(
        InOrder(tool->LogTexts(), {"status : " + unsaved, "status : Transferring file " + path,
                                   "status : Finished Uploading"}));
    EXPECT_TRUE(tool->Terminal().contains("[" + unsaved + "]"));
    ASSERT_TRUE(tool->WaitForStatus(CrcOk)) << tool->Status();
}

// Firmware in S-records of 200 data bytes (lines of 410 characters), CRC trailer included,
// the end record without a line end.
QByteArray LongLineFirmware(int imageSize)
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    QByteArray image;
    for (int i = 0; i < imageSize; ++i)
        image.append(char((i * 7 + 3) & 0xFF));
    std::uint32_t crc = 0xFFFFFFFFu;
    for (char b : image)
        crc = table[(crc ^ std::uint8_t(b)) & 0xFF] ^ (crc >> 8);
    crc ^= 0xFFFFFFFFu;
    for (int k = 0; k < 4; ++k)
        image.append(char((crc >> (8 * k)) & 0xFF));

    QByteArray out = "S00600004844521B\r\n";
    for (int address = 0; address < image.size(); address += 200) {
        const QByteArray data = image.mid(address, 200);
        QByteArray record;
        record.append(char(data.size() + 3));
        record.append(char(address >> 8));
        record.append(char(address & 0xFF));
        record += data;
        std::uint8_t sum = 0;
        for (char b : record)
            sum += std::uint8_t(b);
        record.append(char(~sum));
        out += "S1" + record.toHex().toUpper() + "\r\n";
    }
    return out + "S9030000FC";
}

TEST_F(UploadCycle, EmptyAndLongLineFiles)
{
    Start(Quick);
    ConnectToUnit();
    // An empty file is refused before anything goes out: the unit could make nothing of it
    // and no result would come. The dialogue stays connected for another file.
    const QString empty = unit->WriteFile("empty.out", {});
    tool->SelectFile(empty);
    EXPECT_EQ(tool->Status(), "File check failed: the file is empty");
    EXPECT_EQ(form->DialogueState(), Connected);
    EXPECT_TRUE(form->bBrowse->isEnabled());
    EXPECT_TRUE(unit->Units().isEmpty());

    // A file too short to count (3 bytes) goes out: the bar is empty, not Qt's busy
    // animation (minimum and maximum both 0). The unit makes nothing of the line.
    const QString tiny = unit->WriteFile("tiny.out", "ab\n");
    tool->SelectFile(tiny);
    EXPECT_EQ(tool->Status(), "Finished Uploading");
    EXPECT_GT(form->ProgressBar1->maximum(), form->ProgressBar1->minimum());
    EXPECT_EQ(form->ProgressBar1->value(), form->ProgressBar1->minimum());
    EXPECT_EQ(form->DialogueState(), AwaitingProgramResult);
    // The operator goes back to Comm Setup (its tab, then Connect), which resets the dialogue.
    form->PageControl1->setCurrentWidget(form->CommSheet);
    ConnectToUnit();

    // Lines of 410 characters are sent whole; the last one, without line end, once.
    const QByteArray bytes = LongLineFirmware(3000);
    const QString longLines = unit->WriteFile("long.out", bytes);
    tool->SelectFile(longLines);
    EXPECT_EQ(tool->Status(), "Finished Uploading");
    EXPECT_TRUE(tool->WaitForStatus(CrcOk)) << tool->Status();
    const QJsonObject cycle = UnitReport(1);
    EXPECT_EQ(cycle.value("result").toString(), "crc-ok");
    EXPECT_EQ(cycle.value("lines").toInt(), bytes.count('\n') + 1);
    ExpectCleanFlow(cycle);
}

TEST_F(UploadCycle, LineEndOptionAndSingleStep)
{
    const struct
    {
        bool addCr;
        int answer;
        bool askEveryLine;
    } cases[] = {
        {true, IDCANCEL, false},
        {false, IDOK, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.addCr ? "LF CR, single step cancelled" : "LF, every line confirmed");
        testapp::ResetRecorders();
        Start(Quick);
        const QString path = Firmware(1024);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const int lines = int(file.readAll().count('\n')) + 1; // and the lone LF at the end
        form->ckbAddLF->setChecked(c.addCr);
        form->ckbSingleStep->setChecked(true);
        testapp::NextMessageBoxAnswer() = c.answer;
        ConnectToUnit();
        tool->SelectFile(path);
        EXPECT_EQ(tool->Status(), "Finished Uploading");
        const auto& boxes = testapp::MessageBoxCalls();
        ASSERT_EQ(int(boxes.size()), c.askEveryLine ? lines : 1);
        EXPECT_EQ(boxes.front().text, "OK to Step");
        EXPECT_EQ(boxes.front().caption, "Single Step");
        EXPECT_EQ(boxes.front().flags, MB_OKCANCEL);
        EXPECT_EQ(form->ckbSingleStep->isChecked(), c.askEveryLine);
        EXPECT_TRUE(tool->WaitForStatus(CrcOk)) << tool->Status();
        ExpectCleanFlow(UnitReport());
        tool.reset();
        unit.reset();
    }
}

TEST_F(UploadCycle, ProgressDotsCountPacketsAcrossTransfers)
{
    Start(Quick);
    const QString path = Firmware(1024);
    ConnectToUnit();
    // Packets handed to the window while the transfer runs (state 2), from inside it: the
    // single-step box is answered by feeding packets first.
    DotCounter = 0;
    int fed = 0;
    std::vector<int> dotsAfter;
    form->ckbSingleStep->setChecked(true);
    Application->SetMessageBoxHook([&](const AnsiString&, const AnsiString&, int) {
        EXPECT_EQ(form->DialogueState(), Uploading);
        const int batch = fed == 0 ? 23 : 1;
        for (int i = 0; i < batch; ++i, ++fed) {
            AnsiString packet = "#";
            form->MyCom1PacketReceived(form, packet);
        }
        dotsAfter.push_back(int(tool->Terminal().count('.')));
        return fed < 29 ? IDOK : IDCANCEL;
    });
    tool->SelectFile(path);
    Application->SetMessageBoxHook(
        [](const AnsiString& text, const AnsiString& caption, int flags) {
            testapp::MessageBoxCalls().push_back({text, caption, flags});
            return testapp::NextMessageBoxAnswer();
        });
    ASSERT_GE(dotsAfter.size(), 2u);
    EXPECT_EQ(dotsAfter[0], 1) << "23 packets give one dot";
    EXPECT_EQ(dotsAfter[1], 2) << "the 24th gives the second";
    EXPECT_FALSE(tool->Terminal().contains('#')) << "packets while sending are not shown";
}

} // namespace
