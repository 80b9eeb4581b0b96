// Stations of one line against simulated units, each unit fault at a station of its own: the
// faulty unit gets its verdict (or halts its station until the operator starts it again), and
// every other unit of every station is programmed as if nothing happened. A port another
// station holds, or a socket with nothing in it, halts that station alone.
#include "line/window/StationPanel.h"
#include "tests/line/LineRig.h"

#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace linerig;

namespace {

constexpr int ImageBytes = 4096;
constexpr int UnitsPerStation = 3;

struct FaultCase
{
    QStringList options; // beyond QuickUnit
    const char* outcome; // of the second unit
    const char* verdict; // on the station's panel after it
};

TEST(LineCycle, FourStationsThreeUnitsEachAFaultStaysAtItsStation)
{
    // The file's size, to pull the third station's adapter in the middle of its second unit.
    const std::vector<FaultCase> cases = {
        {{"--fault", "bad-crc", "--fault-unit", "2"}, "crc-bad", "FAIL: CRC BAD"},
        {{"--fault", "program-fail", "--fault-unit", "2"},
         "programming-failed",
         "FAIL: PROGRAMMING"},
        // The adapter is pulled during the second unit's download (the fault is set below,
        // once the file's size is known): the file was handed over, the verdict never comes.
        {{}, "no-result", "FAIL: NO RESULT"},
        // A slow flash, so the unit holds the line; it then never lets go, and gives up.
        {{"--fault", "never-xon", "--fault-unit", "2", "--program-rate", "4000", "--line-timeout",
          "2"},
         "download-failed",
         "FAIL: DOWNLOAD"},
    };
    std::vector<QStringList> units;
    for (const FaultCase& c : cases)
        units.push_back(QuickUnit + c.options + QStringList{"--units", "3"});
    // A unit whose line was pulled completes no cycle: that simulator ends after two.
    units[2].last() = "2";
    // A probe line gives the firmware's size for the unplug fault.
    const qint64 fileBytes = [] {
        LineRig probe({}, ImageBytes);
        return QFileInfo(probe.Firmware()).size();
    }();
    ASSERT_GT(fileBytes, 0);
    units[2] << "--fault" << QString("unplug-after=%1").arg(fileBytes * 3 / 2);

    LineRig rig(units, ImageBytes);
    ASSERT_TRUE(rig.Error().isEmpty()) << rig.Error().toStdString();
    rig.Open();
    rig.Line().StartAll();

    // The third station halts when its adapter goes; the operator starts it again once the
    // adapter is back (the simulator publishes a fresh line under the same link).
    line::StationPanel& unplugged = *rig.Window().Panel(2);
    ASSERT_TRUE(ProcessUntil(
        [&] { return rig.Line().At(2).View().phase == line::StationPhase::Halted; }, 60s))
        << unplugged.StateText().toStdString();
    rig.Window().Refresh();
    EXPECT_TRUE(unplugged.StateText().startsWith("Halted: Line failed"))
        << unplugged.StateText().toStdString();
    EXPECT_EQ(unplugged.VerdictText(), cases[2].verdict);
    ASSERT_TRUE(ProcessUntil(
        [&] { return QFileInfo::exists(rig.Link(2)) && unplugged.StartButton()->isEnabled(); },
        10s));
    QTest::mouseClick(unplugged.StartButton(), Qt::LeftButton);

    ASSERT_TRUE(ProcessUntil(
        [&] {
            for (int s = 0; s < rig.Line().Count(); ++s)
                if (rig.RecordsOf(QString("Station %1").arg(s + 1)) < UnitsPerStation)
                    return false;
            return true;
        },
        90s))
        << rig.Records().size() << " rows";

    const std::vector<QStringList> rows = rig.Records();
    ASSERT_EQ(rows.size(), std::size_t(cases.size() * UnitsPerStation));
    for (std::size_t s = 0; s < cases.size(); ++s) {
        const QString name = QString("Station %1").arg(s + 1);
        QStringList outcomes;
        for (const QStringList& row : rows)
            if (row[row.size() - 2] == name) {
                outcomes << row[13];
                EXPECT_EQ(row.last(), rig.Link(int(s)));
            }
        EXPECT_EQ(outcomes, QStringList({"crc-ok", cases[s].outcome, "crc-ok"}))
            << name.toStdString();
        const line::StationView view = rig.Line().At(int(s)).View();
        EXPECT_EQ(view.units, UnitsPerStation);
        EXPECT_EQ(view.passed, UnitsPerStation - 1);
        EXPECT_EQ(view.failed, 1);
    }
    rig.Window().Refresh();
    EXPECT_EQ(rig.Window().Panel(0)->VerdictText(), "PASS");
}

TEST(LineCycle, APortBusyOrMissingHaltsItsStationAlone)
{
    LineRig rig({QuickUnit}, ImageBytes);
    ASSERT_TRUE(rig.Error().isEmpty()) << rig.Error().toStdString();
    // Two more stations: one on the first station's port, one on a socket with nothing in it.
    QFile ini(rig.Path("OrvixLine.ini"));
    ASSERT_TRUE(ini.open(QIODevice::Append));
    ini.write("[Station2]\nSocket=" + rig.Link(0).toUtf8() + "\n[Station3]\nSocket=" +
              rig.Path("serial/by-path/pci-0000:00:14.0-usb-0:9:1.0-port0").toUtf8() + "\n");
    ini.close();
    line::LineSettingsFile(rig.Path("OrvixLine.ini").toStdString()).WriteStationCount(3);
    rig.Open();
    rig.Line().StartAll();

    const struct
    {
        int station;
        const char* problem;
    } halted[] = {{1, "Port unavailable: "}, {2, "No adapter in "}};
    for (const auto& h : halted) {
        const line::StationView view = rig.Line().At(h.station).View();
        EXPECT_EQ(view.phase, line::StationPhase::Halted) << h.station;
        EXPECT_EQ(view.problem.rfind(h.problem, 0), 0u) << view.problem;
    }
    ASSERT_TRUE(ProcessUntil([&] { return rig.RecordsOf("Station 1") >= 1; }, 30s));
    EXPECT_EQ(rig.Records().size(), 1u);
    QFile log(rig.Path("Orvix500Line.Log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(log.readAll().contains("Station 2: port help : ")) << "what to do about it";
}

} // namespace
