// The real orvix-line on a virtual X server, driven with the mouse as an operator drives it,
// against simulated units: the stations start by themselves and program, their verdicts show
// in green on the screen, a station stopped by its own button stops alone, and Start all
// takes it up again; four stations with a faulty unit each program three units, the operator
// starting again by mouse the one whose adapter was pulled.
#include "line/window/LineWindow.h"
#include "line/window/StationPanel.h"
#include "tests/desktop/Desktop.h"
#include "tests/line/LineRig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace linerig;
using desktop::VirtualDisplay;

namespace {

constexpr int ImageBytes = 2048;
const QString Title = "Orvix-500 Production Line";
const QColor Pass(0x1e, 0x8e, 0x3e);

// The program's log, read as the operator would.
QString LogOf(const LineRig& rig)
{
    QFile file(rig.Path("Orvix500Line.Log"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Where a control of the window is, in window coordinates: taken from the same window made
// here, offscreen, at the same size over a line of the same settings (the layout depends on
// nothing else).
class Places
{
public:
    Places(const LineRig& rig, QSize size)
    {
        QFile::copy(rig.Path("OrvixLine.ini"), QDir(dir_.path()).filePath("OrvixLine.ini"));
        line_ = std::make_unique<line::Line>(dir_.path().toStdString());
        window_ = std::make_unique<line::LineWindow>(*line_);
        window_->resize(size);
        window_->show();
        ProcessUntil([] { return false; }, 300ms);
    }
    QPoint Of(const QWidget* control) const
    {
        return control->mapTo(window_.get(), control->rect().center());
    }
    line::LineWindow& Window() { return *window_; }

private:
    QTemporaryDir dir_;
    std::unique_ptr<line::Line> line_;
    std::unique_ptr<line::LineWindow> window_;
};

TEST(LineDesktop, StationsProgramByThemselvesAndObeyTheMouse)
{
    VirtualDisplay display(VirtualDisplay::WindowManager::None);
    ASSERT_EQ(display.Error().toStdString(), "");
    LineRig rig({QuickUnit, QuickUnit}, ImageBytes);
    ASSERT_TRUE(rig.Error().isEmpty()) << rig.Error().toStdString();

    QProcess program;
    program.setProcessEnvironment(display.Environment());
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(ORVIX_LINE_PATH, {"--folder", rig.Path("")});
    const QString window = display.FindWindow(Title);
    ASSERT_FALSE(window.isEmpty()) << program.readAll().toStdString();

    // Hands-free: each station waits for its unit at start and programs it.
    ASSERT_TRUE(ProcessUntil(
        [&] { return rig.RecordsOf("Station 1") >= 1 && rig.RecordsOf("Station 2") >= 1; }, 30s))
        << LogOf(rig).toStdString();

    const QStringList geometry =
        display.Run("xdotool", {"getwindowgeometry", "--shell", window}).split('\n');
    QSize size;
    for (const QString& line : geometry) {
        if (line.startsWith("WIDTH="))
            size.setWidth(line.mid(6).toInt());
        if (line.startsWith("HEIGHT="))
            size.setHeight(line.mid(7).toInt());
    }
    ASSERT_TRUE(size.isValid()) << geometry.join(' ').toStdString();
    Places places(rig, size);

    // The verdict shows in green on the screen.
    const QString shot = rig.Path("screen.png");
    bool shotTaken = false;
    display.Run("import", {"-window", window, shot}, &shotTaken);
    ASSERT_TRUE(shotTaken);
    const QImage screen(shot);
    ASSERT_FALSE(screen.isNull());
    for (int s = 0; s < 2; ++s) {
        const QWidget* panel = places.Window().Panel(s);
        const QRect tile(panel->mapTo(&places.Window(), QPoint(0, 0)), panel->size());
        int green = 0;
        for (int y = tile.top(); y < tile.bottom(); y += 2)
            for (int x = tile.left(); x < tile.right(); x += 2)
                green += screen.pixelColor(x, y) == Pass;
        EXPECT_GT(green, 500) << "no green verdict in station " << s + 1 << "'s tile";
    }

    // Station 2's own Stop stops it alone; Start all takes it up again.
    const QPoint stop = places.Of(places.Window().Panel(1)->StopButton());
    ASSERT_TRUE(display.Click(window, stop.x(), stop.y()));
    ASSERT_TRUE(
        ProcessUntil([&] { return LogOf(rig).contains("Station 2: status : stopped"); }, 10s))
        << LogOf(rig).toStdString();
    const int station1 = rig.RecordsOf("Station 1");
    const int station2 = rig.RecordsOf("Station 2");
    ASSERT_TRUE(ProcessUntil([&] { return rig.RecordsOf("Station 1") > station1 + 1; }, 30s));
    EXPECT_LE(rig.RecordsOf("Station 2"), station2 + 1) << "a unit it had begun, at most";
    EXPECT_FALSE(LogOf(rig).contains("Station 1: status : stopped"));

    const QPoint startAll = places.Of(places.Window().StartAllButton());
    ASSERT_TRUE(display.Click(window, startAll.x(), startAll.y()));
    const int again = rig.RecordsOf("Station 2");
    ASSERT_TRUE(ProcessUntil([&] { return rig.RecordsOf("Station 2") > again; }, 30s))
        << LogOf(rig).toStdString();

    // Ended as a logout ends it: every station stops and the program leaves by its own message
    // loop, not killed by the signal. (Its status is not looked at: under the leak checker a
    // system library's allocation that the checker cannot name may set it.)
    program.terminate();
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    const QByteArray output = program.readAll();
    EXPECT_FALSE(output.contains("ERROR: AddressSanitizer")) << output.toStdString();
    for (const QStringList& row : rig.Records())
        EXPECT_TRUE(row[13] == "crc-ok" || row[13] == "cancelled" || row[13] == "no-result")
            << row.join(',').toStdString();
}

// The unit faults of the four stations and the outcome each one's second unit gets.
struct Fault
{
    QStringList options;
    const char* outcome;
};

TEST(LineDesktop, FourStationsThreeUnitsEachWithTheMouse)
{
    VirtualDisplay display(VirtualDisplay::WindowManager::None);
    ASSERT_EQ(display.Error().toStdString(), "");
    const qint64 fileBytes = [] {
        LineRig probe({}, ImageBytes);
        return QFileInfo(probe.Firmware()).size();
    }();
    const std::vector<Fault> faults = {
        {{"--fault", "bad-crc", "--fault-unit", "2", "--units", "3"}, "crc-bad"},
        {{"--fault", "program-fail", "--fault-unit", "2", "--units", "3"}, "programming-failed"},
        // Pulled during the second unit: a pulled line completes no cycle of the unit's.
        {{"--fault", QString("unplug-after=%1").arg(fileBytes * 3 / 2), "--units", "2"},
         "no-result"},
        {{"--fault", "never-xon", "--fault-unit", "2", "--program-rate", "4000", "--line-timeout",
          "2", "--units", "3"},
         "download-failed"},
    };
    std::vector<QStringList> units;
    for (const Fault& f : faults)
        units.push_back(QuickUnit + f.options);
    LineRig rig(units, ImageBytes);
    ASSERT_TRUE(rig.Error().isEmpty()) << rig.Error().toStdString();

    QProcess program;
    program.setProcessEnvironment(display.Environment());
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(ORVIX_LINE_PATH, {"--folder", rig.Path("")});
    const QString window = display.FindWindow(Title);
    ASSERT_FALSE(window.isEmpty()) << program.readAll().toStdString();
    const QStringList geometry =
        display.Run("xdotool", {"getwindowgeometry", "--shell", window}).split('\n');
    QSize size;
    for (const QString& line : geometry) {
        if (line.startsWith("WIDTH="))
            size.setWidth(line.mid(6).toInt());
        if (line.startsWith("HEIGHT="))
            size.setHeight(line.mid(7).toInt());
    }
    Places places(rig, size);

    // Station 3's adapter goes; once it is back, the operator presses that station's Start.
    ASSERT_TRUE(
        ProcessUntil([&] { return LogOf(rig).contains("Station 3: status : halted"); }, 60s))
        << LogOf(rig).toStdString();
    ASSERT_TRUE(ProcessUntil([&] { return QFileInfo::exists(rig.Link(2)); }, 10s));
    const QPoint start = places.Of(places.Window().Panel(2)->StartButton());
    ASSERT_TRUE(display.Click(window, start.x(), start.y()));

    ASSERT_TRUE(ProcessUntil(
        [&] {
            for (int s = 0; s < 4; ++s)
                if (rig.RecordsOf(QString("Station %1").arg(s + 1)) < 3)
                    return false;
            return true;
        },
        90s))
        << LogOf(rig).toStdString();
    program.terminate();
    ASSERT_TRUE(program.waitForFinished(10000));
    const std::vector<QStringList> rows = rig.Records();
    EXPECT_EQ(rows.size(), 12u);
    for (std::size_t s = 0; s < faults.size(); ++s) {
        QStringList outcomes;
        for (const QStringList& row : rows)
            if (row[row.size() - 2] == QString("Station %1").arg(s + 1))
                outcomes << row[13];
        EXPECT_EQ(outcomes, QStringList({"crc-ok", faults[s].outcome, "crc-ok"})) << s + 1;
    }
}

} // namespace
