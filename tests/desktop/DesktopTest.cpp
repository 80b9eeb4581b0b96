// The real uploader on a virtual desktop, driven with the mouse and keyboard through the X
// server as an operator drives it, against the unit simulator.
#include "tests/desktop/Desktop.h"

#include "tests/upload_cycle/UnitBench.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;
using desktop::VirtualDisplay;

namespace {

const QString MainTitle = "Tallowmere Orvix-500 Firmware Uploader";
const QString Greeted = "status : Connection established";
const QString CrcOk = "status : CRC OK!!!  Waiting for Connection...";
const QString Canceled = "status : Upload Canceled";

// Places in the main window (window coordinates) of the controls the tests click: the
// window's size and layout are fixed (224 by 225 pixels, the controls at their designed places).
struct Place
{
    int x;
    int y;
};
constexpr Place CommTab{45, 13};
constexpr Place UploadTab{118, 13};
constexpr Place Connect{101, 92};
constexpr Place DisplayHelp{40, 120};
constexpr Place SelectFile{57, 60};

// The unit on an unpaced line with a fast flash: a cycle takes a moment.
const QStringList Quick = {
    "--verbose", "--baud",     "0",   "--program-rate", "400000", "--buffer", "65536", "--xoff-at",
    "61440",     "--pause-ms", "100", "--greet-after",  "1"};
// The unit at the line rate of 115200 bit/s with a fast flash: 64 KiB take several seconds.
const QStringList LineRate = {"--verbose", "--baud", "115200",    "--program-rate", "400000",
                              "--buffer",  "65536",  "--xoff-at", "61440"};
// A unit that sends XOFF and never XON: the transfer waits for ever.
const QStringList NeverXon = {"--verbose", "--baud", "115200", "--fault", "never-xon"};

class Desktop : public testing::Test
{
protected:
    // The X server (with `manager`), the simulator with `options`, a firmware file of
    // `firmwareSize` image bytes preset in Uploader.ini (none when 0), and the uploader with
    // its main window shown.
    // With `user`, the uploader runs as that user, after `prepare` has set up what the user
    // may do in the folder.
    void Start(VirtualDisplay::WindowManager manager, const QStringList& options,
               int firmwareSize = 0, const QString& user = {},
               const std::function<void()>& prepare = {})
    {
        display = std::make_unique<VirtualDisplay>(manager);
        ASSERT_EQ(display->Error().toStdString(), "");
        unit = std::make_unique<unitbench::SimulatedUnit>(ORVIX_SIM_PATH, options);
        ASSERT_EQ(unit->Error().toStdString(), "");
        QByteArray ini = "[SystemSection]\r\n";
        if (firmwareSize > 0) {
            firmware = unit->MakeFirmware("firmware.out", firmwareSize);
            ASSERT_FALSE(firmware.isEmpty()) << unit->Error().toStdString();
            ini += "FileName=" + firmware.toLocal8Bit() + "\r\n";
        }
        ini += "[Ports]\r\nCOM2=" + unit->Link().toLocal8Bit() + "\r\n";
        ASSERT_FALSE(unit->WriteFile("Uploader.ini", ini).isEmpty());
        if (prepare)
            prepare();
        uploader = std::make_unique<desktop::UploaderProcess>(*display, unit->Dir(), user);
        window = display->FindWindow(MainTitle);
        ASSERT_FALSE(window.isEmpty()) << uploader->Output().toStdString();
        ASSERT_TRUE(uploader->WaitForLog("status : com port open successful"));
    }

    // The folder as an administrator sets it up for operators: anyone may add files (the log,
    // the record), nobody may replace another's (the settings file stays root's).
    void ShareFolder() const
    {
        ASSERT_EQ(::chmod(unit->Dir().toLocal8Bit().constData(), 01777), 0);
    }
    // The simulated unit's line, open to every user (as to a member of dialout).
    void ShareLine() const
    {
        const QString device = QFileInfo(unit->Link()).canonicalFilePath();
        ASSERT_EQ(::chmod(device.toLocal8Bit().constData(), 0666), 0);
    }

    void TearDown() override
    {
        uploader.reset();
        unit.reset();
        display.reset();
    }

    bool Click(Place place) const { return display->Click(window, place.x, place.y); }

    // Presses Connect and waits until the unit's greeting is recognised.
    void ConnectToUnit()
    {
        ASSERT_TRUE(Click(Connect));
        ASSERT_TRUE(uploader->WaitForLog(Greeted)) << Log();
    }

    // Presses Select File and takes the preset file in the file dialog.
    void SelectPresetFile()
    {
        ASSERT_TRUE(Click(SelectFile));
        const QString dialog = display->FindWindow("Open", true);
        ASSERT_FALSE(dialog.isEmpty()) << Log();
        ASSERT_TRUE(display->Key("Return"));
        ASSERT_TRUE(uploader->WaitForLog("status : Transferring file " + firmware)) << Log();
    }

    QByteArray Ini() const
    {
        QFile file(unit->Path("Uploader.ini"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    std::string Log() const { return uploader->LogTexts().join("\n").toStdString(); }

    std::unique_ptr<VirtualDisplay> display;
    std::unique_ptr<unitbench::SimulatedUnit> unit;
    std::unique_ptr<desktop::UploaderProcess> uploader;
    QString window;
    QString firmware;
};

// The name of a test case run with a window manager, or without one.
std::string ManagerName(const testing::TestParamInfo<VirtualDisplay::WindowManager>& info)
{
    switch (info.param) {
    case VirtualDisplay::WindowManager::None:
        return "NoWindowManager";
    case VirtualDisplay::WindowManager::Openbox:
        return "Openbox";
    case VirtualDisplay::WindowManager::OpenboxNoFocusNew:
        return "OpenboxWithoutFocusOnNewWindows";
    }
    return "Unknown";
}

// The first click on a window that is shown but not active: the click that activates the
// window is the operator's press of Connect, and it stands.
class FirstClick : public Desktop, public testing::WithParamInterface<VirtualDisplay::WindowManager>
{
};

TEST_P(FirstClick, ConnectThatActivatesTheWindowStands)
{
    Start(GetParam(), Quick);
    if (GetParam() != VirtualDisplay::WindowManager::None) {
        ASSERT_NE(display->ActiveWindow(), window) << "the window must not be active yet";
    }
    ConnectToUnit();
    EXPECT_TRUE(uploader->LogTexts().contains("status : waiting for connection..."));
}

INSTANTIATE_TEST_SUITE_P(WindowManagers, FirstClick,
                         testing::Values(VirtualDisplay::WindowManager::None,
                                         VirtualDisplay::WindowManager::OpenboxNoFocusNew),
                         ManagerName);

// A click on the tabs, with and without a window manager.
class TabClick : public Desktop, public testing::WithParamInterface<VirtualDisplay::WindowManager>
{
};

TEST_P(TabClick, EntersNoPage)
{
    Start(GetParam(), Quick, 4096);
    ConnectToUnit();
    // A look at the Comm Setup page and back: the dialogue goes on where it was.
    ASSERT_TRUE(Click(CommTab));
    ASSERT_TRUE(Click(UploadTab));
    SelectPresetFile();
    ASSERT_TRUE(uploader->WaitForLog(CrcOk)) << Log();
    EXPECT_TRUE(uploader->LogTexts().contains("status : Finished Uploading"));
    EXPECT_TRUE(uploader->LogTexts().filter("received : ").join("").contains("CRC is OK")) << Log();
    // The next unit's greeting is recognised without another Connect.
    EXPECT_TRUE(uploader->WaitForLog(Greeted, 20s, 2)) << Log();
}

INSTANTIATE_TEST_SUITE_P(WindowManagers, TabClick,
                         testing::Values(VirtualDisplay::WindowManager::None,
                                         VirtualDisplay::WindowManager::Openbox),
                         ManagerName);

// Closing the main window with the window manager while a file is sent, or the system asking
// the program to stop (a logout, a shutdown, a service stop, Ctrl-C, a terminal gone): the
// transfer ends as Cancel ends it, its record is written, and the program ends at once,
// leaving its settings as they were.
struct CloseCase
{
    const char* name;
    const QStringList* options;
    // The simulator's trace line after which to close, and how long after it.
    const char* closeAfter;
    std::chrono::milliseconds later;
    // 0: closed by the window manager; otherwise the signal sent.
    int signal = 0;
};

class CloseDuringTransfer : public Desktop, public testing::WithParamInterface<CloseCase>
{
};

TEST_P(CloseDuringTransfer, EndsTheTransferAndTheProgram)
{
    Start(VirtualDisplay::WindowManager::Openbox, *GetParam().options, 65536);
    ConnectToUnit();
    SelectPresetFile();
    ASSERT_TRUE(
        unitbench::ProcessUntil([&] { return unit->Trace().contains(GetParam().closeAfter); }, 20s))
        << unit->Trace().toStdString();
    unitbench::ProcessUntil([] { return false; }, GetParam().later);
    ASSERT_TRUE(uploader->Running());
    const QByteArray ini = Ini();

    const auto closed = std::chrono::steady_clock::now();
    if (GetParam().signal)
        ASSERT_TRUE(uploader->Signal(GetParam().signal));
    else
        ASSERT_TRUE(display->Close(window));
    ASSERT_TRUE(uploader->WaitForExit(10s)) << "the program outlives its window";
    // Ended by its own message loop, not killed by the signal.
    EXPECT_FALSE(uploader->Crashed());
    const auto took = std::chrono::steady_clock::now() - closed;
    EXPECT_LT(took, 1s) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count()
                        << " ms";
    EXPECT_TRUE(uploader->LogTexts().contains(Canceled)) << Log();
    EXPECT_FALSE(uploader->LogTexts().contains("status : Finished Uploading")) << Log();
    EXPECT_EQ(Ini(), ini);
    // The cycle's record says it was cancelled.
    const QByteArray record = unitbench::ReadBytes(unit->Path("Orvix500Units.csv"));
    EXPECT_TRUE(record.trimmed().endsWith(",cancelled,0")) << record.toStdString();
    EXPECT_FALSE(uploader->Output().contains("ERROR: AddressSanitizer"))
        << uploader->Output().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Moments, CloseDuringTransfer,
    testing::Values(CloseCase{"WhileSending", &LineRate, "download begins", 1500ms},
                    CloseCase{"WhileHeld", &NeverXon, "sent XOFF", 500ms},
                    CloseCase{"SigtermWhileSending", &LineRate, "download begins", 1500ms, SIGTERM},
                    CloseCase{"SigintWhileHeld", &NeverXon, "sent XOFF", 500ms, SIGINT},
                    CloseCase{"SighupWhileSending", &LineRate, "download begins", 1500ms, SIGHUP}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Desktop, CaptionsAreTheWindowsOwn)
{
    Start(VirtualDisplay::WindowManager::Openbox, Quick, 1024);
    ASSERT_TRUE(Click(DisplayHelp));
    const QString helpWindow = display->FindWindow("Help", true);
    ASSERT_FALSE(helpWindow.isEmpty());
    EXPECT_EQ(display->WindowTitle(helpWindow).toStdString(), "Help");
    ConnectToUnit();
    ASSERT_TRUE(Click(SelectFile));
    const QString dialog = display->FindWindow("Open", true);
    ASSERT_FALSE(dialog.isEmpty());
    EXPECT_EQ(display->WindowTitle(dialog).toStdString(), "Open");
    ASSERT_TRUE(display->Key("Escape"));
    EXPECT_TRUE(uploader->WaitForLog("status : Could not open file."));
}

// Closing the help window by its title bar unticks "Display Help": one click on the box shows
// the window again (with the box left ticked, that click would untick it and show nothing).
TEST_F(Desktop, ClosingTheHelpWindowUnticksDisplayHelp)
{
    Start(VirtualDisplay::WindowManager::Openbox, Quick);
    ASSERT_TRUE(Click(DisplayHelp));
    const QString helpWindow = display->FindWindow("Help");
    ASSERT_FALSE(helpWindow.isEmpty());
    ASSERT_TRUE(display->Close(helpWindow));
    ASSERT_TRUE(unitbench::ProcessUntil(
        [&] { return display->FindWindow("Help", false, 100ms).isEmpty(); }, 10s));
    ASSERT_TRUE(uploader->Running());
    ASSERT_TRUE(Click(DisplayHelp));
    EXPECT_FALSE(display->FindWindow("Help", false, 5s).isEmpty());
}

// An operator who may not write the settings file (the administrator's, with the port map):
// not remembering the file is no reason not to program the unit.
TEST_F(Desktop, ASettingsFileTheOperatorMayNotWriteDoesNotStopTheUpload)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "running the uploader as another user needs root";
    Start(VirtualDisplay::WindowManager::Openbox, Quick, 1024, "nobody", [this] {
        ShareFolder();
        ShareLine();
    });
    const QByteArray ini = Ini();
    ConnectToUnit();
    SelectPresetFile();
    EXPECT_TRUE(uploader->WaitForLog("status : CRC OK!!!  Waiting for Connection...")) << Log();
    EXPECT_TRUE(
        uploader->LogTexts().contains("status : Unable to write to " + unit->Path("Uploader.ini")))
        << Log();
    EXPECT_EQ(Ini(), ini);
    const QByteArray record = unitbench::ReadBytes(unit->Path("Orvix500Units.csv"));
    EXPECT_TRUE(record.contains(",crc-ok,")) << record.toStdString();
}

// An operator outside dialout: the port does not open, and the window itself says why and
// what to do (the terminal pane shows the reason and the fix, not only the log).
TEST_F(Desktop, APortTheOperatorMayNotOpenIsExplainedInTheWindow)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "running the uploader as another user needs root";
    display = std::make_unique<VirtualDisplay>(VirtualDisplay::WindowManager::Openbox);
    ASSERT_EQ(display->Error().toStdString(), "");
    unit = std::make_unique<unitbench::SimulatedUnit>(ORVIX_SIM_PATH, Quick);
    ASSERT_EQ(unit->Error().toStdString(), "");
    unit->WriteFile("Uploader.ini",
                    "[SystemSection]\r\n[Ports]\r\nCOM2=" + unit->Link().toLocal8Bit() + "\r\n");
    ShareFolder();
    uploader = std::make_unique<desktop::UploaderProcess>(*display, unit->Dir(), "nobody");
    window = display->FindWindow(MainTitle);
    ASSERT_FALSE(window.isEmpty()) << uploader->Output().toStdString();
    ASSERT_TRUE(uploader->WaitForLog("status : com port open successful"));
    EXPECT_FALSE(uploader->LogTexts().filter("Permission denied").isEmpty()) << Log();
    EXPECT_FALSE(uploader->LogTexts().filter("dialout").isEmpty()) << Log();
    // The pane (below the tab control, above the status bar) holds text: the reason and fix.
    unitbench::ProcessUntil([] { return false; }, 500ms);
    const QImage picture = display->Picture(window);
    ASSERT_FALSE(picture.isNull());
    int dark = 0;
    for (int y = 140; y < 200; ++y)
        for (int x = 4; x < 200; ++x)
            dark += qGray(picture.pixel(x, y)) < 96;
    EXPECT_GT(dark, 200) << "the pane is empty";
}

// Red pixels in a band of a window's picture: where a failure's text is drawn.
int RedPixels(const QImage& picture, int top, int bottom)
{
    int red = 0;
    for (int y = top; y < bottom && y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const QColor c = picture.pixelColor(x, y);
            red += c.red() > 140 && c.green() < 90 && c.blue() < 90;
        }
    return red;
}

// A unit record that cannot be written does not cover the verdict, and the last unit's verdict
// stays on the Upload page, in red, after the next unit has greeted.
TEST_F(Desktop, TheVerdictStaysInSightWhenTheRecordCannotBeWrittenAndAfterTheNextGreeting)
{
    Start(VirtualDisplay::WindowManager::Openbox,
          Quick + QStringList{"--fault", "bad-crc", "--greet-after", "3"}, 1024, {}, [this] {
              // Not a file anyone can append to.
              ASSERT_TRUE(QDir(unit->Dir()).mkdir("Orvix500Units.csv"));
          });
    ConnectToUnit();
    SelectPresetFile();
    ASSERT_TRUE(uploader->WaitForLog("status : CRC Bad!!!  Waiting for Connection...")) << Log();
    ASSERT_TRUE(
        uploader->WaitForLog("status : Unable to write to " + unit->Path("Orvix500Units.csv")))
        << Log();
    unitbench::ProcessUntil([] { return false; }, 300ms);
    // The status bar (the window's last 19 rows) shows the verdict, in red.
    QImage picture = display->Picture(window);
    ASSERT_FALSE(picture.isNull());
    EXPECT_GT(RedPixels(picture, picture.height() - 19, picture.height()), 20);

    // The next unit greets: the Upload page's line keeps "Last unit: CRC Bad" in red.
    ASSERT_TRUE(uploader->WaitForLog(Greeted, 10s, 2)) << Log();
    unitbench::ProcessUntil([] { return false; }, 300ms);
    picture = display->Picture(window);
    ASSERT_FALSE(picture.isNull());
    EXPECT_GT(RedPixels(picture, 80, 120), 20);
}

} // namespace
