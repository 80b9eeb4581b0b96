// Stations bound to USB sockets, on a machine laid out in a temporary folder (by-path links,
// sysfs) with real devices behind it: Learn takes the one socket no station has, a swapped
// adapter halts its station until the operator confirms it, and an adapter plugged back into
// its socket is found under its new device name.
#include "line/window/StationPanel.h"
#include "tests/line/FakeSockets.h"
#include "tests/line/LineRig.h"

#include <QFile>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace linerig;

namespace {

constexpr int ImageBytes = 2048;
const line::AdapterIdentity Ftdi{"0403", "6001", "A10K3XQZ"};
const line::AdapterIdentity OtherFtdi{"0403", "6001", "B77Q1MPA"};
const QString SocketA = "pci-0000:00:14.0-usb-0:2:1.0-port0";
const QString SocketB = "pci-0000:00:14.0-usb-0:3:1.0-port0";

struct LearnCase
{
    const char* what;
    QStringList plugged;  // sockets holding an adapter
    QStringList bound;    // sockets other stations have
    QString learned;      // the socket learned, or empty
    const char* errorHas; // a part of the error text when none is learned
};

TEST(SocketBinding, LearnTakesTheOneSocketNoStationHas)
{
    const std::vector<LearnCase> cases = {
        {"one adapter", {SocketA}, {}, SocketA, ""},
        {"one of two is bound", {SocketA, SocketB}, {SocketA}, SocketB, ""},
        {"nothing plugged in", {}, {}, "", "No unbound adapter found"},
        {"every adapter bound", {SocketA}, {SocketA}, "", "No unbound adapter found"},
        {"two to choose from", {SocketA, SocketB}, {}, "", "Several unbound adapters found"},
    };
    for (const LearnCase& c : cases) {
        FakeSockets machine;
        QTemporaryDir devices;
        std::vector<std::string> bound;
        int number = 0;
        for (const QString& socket : c.plugged) {
            const QString device = devices.filePath(QString("ttyUSB%1").arg(number++));
            QFile(device).open(QIODevice::WriteOnly);
            machine.Plug(socket, device, Ftdi);
        }
        for (const QString& socket : c.bound)
            bound.push_back(machine.Socket(socket).toStdString());
        std::string error;
        const std::string learned = line::LearnSocket(bound, error);
        EXPECT_EQ(QString::fromStdString(learned),
                  c.learned.isEmpty() ? QString() : machine.Socket(c.learned))
            << c.what;
        EXPECT_NE(error.find(c.errorHas), std::string::npos) << c.what << ": " << error;
    }
}

struct CheckCase
{
    const char* what;
    QString pluggedInto;            // where the learned adapter sits; empty: nowhere
    line::AdapterIdentity inSocket; // what sits in the station's socket (no vendor: nothing)
    const char* problemHas;         // empty: the station may go on
    bool swapped;
};

TEST(SocketBinding, TheCheckBeforeEachUnitNamesWhatIsWrong)
{
    const std::vector<CheckCase> cases = {
        {"its own adapter", SocketA, Ftdi, "", false},
        {"another adapter of the kind", SocketB, OtherFtdi, "Another adapter in ", true},
        {"moved to another socket",
         SocketB,
         {},
         "its adapter (0403:6001 serial A10K3XQZ) is in ",
         false},
        {"pulled out", "", {}, ": plug it in, then press Start", false},
    };
    for (const CheckCase& c : cases) {
        FakeSockets machine;
        QTemporaryDir devices;
        const QString own = devices.filePath("ttyUSB0");
        const QString other = devices.filePath("ttyUSB1");
        QFile(own).open(QIODevice::WriteOnly);
        QFile(other).open(QIODevice::WriteOnly);
        if (c.pluggedInto == SocketB)
            machine.Plug(SocketB, own, Ftdi);
        if (!c.inSocket.vendor.empty())
            machine.Plug(SocketA, c.inSocket == Ftdi ? own : other, c.inSocket);
        const line::SocketCheck check =
            line::CheckSocket(machine.Socket(SocketA).toStdString(), Ftdi);
        EXPECT_EQ(check.swapped, c.swapped) << c.what;
        if (std::string(c.problemHas).empty())
            EXPECT_EQ(check.problem, "") << c.what;
        else
            EXPECT_NE(check.problem.find(c.problemHas), std::string::npos)
                << c.what << ": " << check.problem;
    }
}

// Waits until station 0 has `rows` rows in the record.
bool WaitForRows(LineRig& rig, int rows)
{
    return ProcessUntil([&] { return rig.RecordsOf("Station 1") >= rows; }, 30s);
}

TEST(SocketBinding, ASwappedAdapterHaltsItsStationUntilConfirmed)
{
    FakeSockets machine;
    LineRig rig({QuickUnit}, ImageBytes, false);
    ASSERT_TRUE(rig.Error().isEmpty()) << rig.Error().toStdString();
    machine.Plug(SocketA, rig.Link(0), Ftdi);
    rig.Open();
    line::StationPanel& panel = *rig.Window().Panel(0);
    QTest::mouseClick(panel.LearnButton(), Qt::LeftButton);
    EXPECT_EQ(rig.Line().At(0).Settings().socket, machine.Socket(SocketA).toStdString());
    ASSERT_TRUE(rig.Line().At(0).Settings().adapter);
    EXPECT_EQ(*rig.Line().At(0).Settings().adapter, Ftdi);

    QTest::mouseClick(panel.StartButton(), Qt::LeftButton);
    ASSERT_TRUE(WaitForRows(rig, 1)) << panel.StateText().toStdString();

    // Another adapter of the same kind in the socket: the next unit is not programmed.
    machine.Plug(SocketA, rig.Link(0), OtherFtdi);
    ASSERT_TRUE(ProcessUntil(
        [&] { return rig.Line().At(0).View().phase == line::StationPhase::Halted; }, 20s));
    rig.Window().Refresh();
    EXPECT_TRUE(panel.StateText().contains("Another adapter in"))
        << panel.StateText().toStdString();
    EXPECT_TRUE(panel.StateText().contains("B77Q1MPA")) << panel.StateText().toStdString();
    EXPECT_FALSE(panel.StartButton()->isEnabled());
    EXPECT_TRUE(panel.ConfirmButton()->isEnabled());
    QTest::mouseClick(panel.StartButton(), Qt::LeftButton);
    EXPECT_EQ(rig.Line().At(0).View().phase, line::StationPhase::Halted);
    EXPECT_EQ(rig.RecordsOf("Station 1"), 1);

    // The operator accepts the new adapter: it is learned and saved, and the line goes on.
    QTest::mouseClick(panel.ConfirmButton(), Qt::LeftButton);
    EXPECT_EQ(*rig.Line().At(0).Settings().adapter, OtherFtdi);
    ASSERT_TRUE(WaitForRows(rig, 2)) << panel.StateText().toStdString();
    QFile ini(rig.Path("OrvixLine.ini"));
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    EXPECT_TRUE(ini.readAll().contains("Serial=B77Q1MPA"));
}

TEST(SocketBinding, AnAdapterPluggedBackIsFoundUnderItsNewName)
{
    FakeSockets machine;
    // Two units stand for one adapter's two lives: its device before and after the replug.
    LineRig rig({QuickUnit, QuickUnit}, ImageBytes, false);
    ASSERT_TRUE(rig.Error().isEmpty()) << rig.Error().toStdString();
    machine.Plug(SocketA, rig.Link(0), Ftdi);
    rig.Open();
    line::StationPanel& panel = *rig.Window().Panel(0);
    QTest::mouseClick(panel.LearnButton(), Qt::LeftButton);
    QTest::mouseClick(panel.StartButton(), Qt::LeftButton);
    ASSERT_TRUE(WaitForRows(rig, 1)) << panel.StateText().toStdString();

    // Pulled out: the line fails and the station halts; plugged back, the kernel names the
    // adapter anew.
    machine.Unplug(SocketA);
    rig.StopUnit(0);
    ASSERT_TRUE(ProcessUntil(
        [&] { return rig.Line().At(0).View().phase == line::StationPhase::Halted; }, 20s));
    machine.Plug(SocketA, rig.Link(1), Ftdi);
    ASSERT_TRUE(ProcessUntil([&] { return panel.StartButton()->isEnabled(); }, 5s));
    QTest::mouseClick(panel.StartButton(), Qt::LeftButton);
    ASSERT_TRUE(WaitForRows(rig, 2)) << panel.StateText().toStdString();

    const std::vector<QStringList> rows = rig.Records();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_NE(rows[0][3], rows[1][3]) << "the device";
    EXPECT_EQ(rows[0].last(), machine.Socket(SocketA));
    EXPECT_EQ(rows[1].last(), machine.Socket(SocketA));
    EXPECT_EQ(rows[1][13], "crc-ok");
}

} // namespace
