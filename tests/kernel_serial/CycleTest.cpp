// The whole upload cycle through a real serial driver: the real main window on the offscreen
// platform in the guest, COM2 mapped to the device under test, and the unit simulator on the
// host end of the line, started by the harness on request. The harness checks the
// simulator's report (every byte of the file received, no overrun) on the host.
#include "app/Uploader.h"
#include "platform/OpenDialog.h"
#include "serial/MyCom.h"
#include "tests/kernel_serial/HostPeer.h"
#include "tests/support/LineUnderTest.h"
#include "tests/support/TestApp.h"
#include "tests/upload_cycle/UnitBench.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using unitbench::ProcessUntil;

namespace {

const QString Greeted = "Connection established";
const QString CrcOk = "CRC OK!!!  Waiting for Connection...";

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

class Cycle : public testing::Test
{
protected:
    void SetUp() override
    {
        testapp::ResetRecorders();
        device = QString::fromStdString(LineUnderTest::RealDevice());
        const char* file = std::getenv("ORVIX_TEST_FIRMWARE");
        if (device.isEmpty() || !file)
            GTEST_SKIP() << "needs ORVIX_TEST_DEVICE and ORVIX_TEST_FIRMWARE (a real device)";
        firmware = file;
        ASSERT_TRUE(QFile::exists(firmware)) << firmware.toStdString();
        ASSERT_TRUE(dir.isValid());
        QFile ini(dir.filePath("Uploader.ini"));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        // COM1 names no device; COM2 is the line under test.
        ini.write("[SystemSection]\r\n[Ports]\r\nCOM1=/dev/ttyNONE\r\nCOM2=" +
                  device.toLocal8Bit() + "\r\n");
        ini.close();
        previousDir = QDir::currentPath();
        QDir::setCurrent(dir.path());
        tool = std::make_unique<unitbench::Uploader>();
        form = &tool->Form();
    }

    void TearDown() override
    {
        tool.reset();
        if (!previousDir.isEmpty())
            QDir::setCurrent(previousDir);
        EXPECT_EQ(testapp::ShownExceptions(), std::vector<AnsiString>{});
    }

    // Presses Connect; the tool wakes the unit once a second until it greets, so the unit the
    // harness starts meanwhile is found whenever it is ready.
    void ConnectToUnit()
    {
        tool->Click(form->ConnectButton);
        ASSERT_TRUE(tool->WaitForStatus(Greeted, 120s)) << "status: " << tool->Status();
    }

    // Sends the file and waits for the unit's verdict; returns the transfer's time.
    double Program(const std::string& label)
    {
        const auto start = Clock::now();
        tool->SelectFile(firmware);
        const double transfer = Seconds(Clock::now() - start);
        EXPECT_EQ(tool->Status(), "Finished Uploading");
        EXPECT_EQ(form->ProgressBar1->value(), form->ProgressBar1->maximum());
        // Every result of the unit ends with "Waiting for Connection...": wait for any.
        EXPECT_TRUE(ProcessUntil(
            [&] {
                return QString::fromStdString(tool->Status()).endsWith("Waiting for Connection...");
            },
            120s));
        EXPECT_EQ(tool->Status(), CrcOk.toStdString())
            << tool->Terminal().toStdString() << tool->LogTexts().join("\n").toStdString();
        // The verdict's line end may come in a packet of its own, after the status changed.
        EXPECT_TRUE(ProcessUntil([&] { return tool->Terminal().endsWith("CRC is OK--"); }, 5s))
            << tool->Terminal().toStdString();
        hostpeer::Figure(label + "_transfer_s", std::to_string(transfer));
        return transfer;
    }

    QString device;
    QString firmware;
    QTemporaryDir dir;
    QString previousDir;
    std::unique_ptr<unitbench::Uploader> tool;
    TForm1* form = nullptr;
};

// The unit as it comes (115200 bit/s, its own buffer and flash rate): it holds the line with
// XOFF again and again, and the file's tail is still on its way when the unit's progress text
// makes the tool purge the port.
TEST_F(Cycle, WholeCycleOnAPacedUnit)
{
    hostpeer::Ask("unit paced");
    ConnectToUnit();
    Program("paced");
}

// A unit that takes bytes as fast as the link brings them and counts what comes after each
// of its XOFFs: the figure of how promptly the driver stops.
TEST_F(Cycle, WholeCycleOnAnUnpacedUnit)
{
    hostpeer::Ask("unit unpaced");
    ConnectToUnit();
    Program("unpaced");
}

// The adapter is pulled during a transfer (the harness removes the USB device from the
// running guest): the operator sees the error, nothing hangs. The tool closes the vanished
// device (while it is open, the kernel would give an adapter plugged in again a new name,
// ttyUSB1); the operator plugs the adapter in again and presses Connect: a unit is
// programmed.
TEST_F(Cycle, UnplugDuringATransferAndReplug)
{
    if (!device.startsWith("/dev/ttyUSB"))
        GTEST_SKIP() << "only a USB adapter can be pulled";
    hostpeer::Ask("unit replug");
    ConnectToUnit();

    bool pulled = false;
    Clock::time_point pulledAt;
    tool->SelectFile(firmware, [&] {
        if (!pulled && form->ProgressBar1->value() * 4 > form->ProgressBar1->maximum()) {
            pulled = true;
            pulledAt = Clock::now();
            hostpeer::Ask("unplug");
        }
    });
    ASSERT_TRUE(pulled) << "the transfer ended before a quarter of the file";
    const bool errorShown = ProcessUntil(
        [&] {
            return !tool->StatusHistory().filter("Read Error: ").isEmpty() ||
                   !tool->StatusHistory().filter("Send Error: ").isEmpty();
        },
        60s);
    EXPECT_TRUE(errorShown) << tool->StatusHistory().join("\n").toStdString();
    hostpeer::Figure("unplug_error_after_s", std::to_string(Seconds(Clock::now() - pulledAt)));
    EXPECT_FALSE(tool->StatusHistory().contains(CrcOk));

    // The tool lets go of the vanished device, so the adapter comes back under its name.
    EXPECT_TRUE(ProcessUntil([&] { return !form->MyCom1->Reader; }, 10s));
    hostpeer::Ask("replug");
    ASSERT_TRUE(ProcessUntil([&] { return QFile::exists(device); }, 60s))
        << "no " << device.toStdString() << " again; there are: "
        << QDir("/dev").entryList({"ttyUSB*"}, QDir::System).join(" ").toStdString();
    // Connect opens the chosen port again.
    ConnectToUnit();
    Program("replugged");
}

} // namespace
