// The unit's hold on the line and what the window does meanwhile, operator's view: the real
// main window against the unit simulator on a pseudo-terminal. Nothing waits for the line, so
// the unit's own messages are read while it holds it, and a purge cuts no line.
#include "app/Uploader.h"
#include "serial/MyCom.h"
#include "tests/support/TestApp.h"
#include "tests/upload_cycle/UnitBench.h"
#include "tests/upload_cycle/WindowCycle.h"
#include "upload/UnitRecorder.h"

#include <QJsonObject>
#include <QPushButton>
#include <QTabWidget>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using unitbench::CrcOk;
using unitbench::Greeted;
using unitbench::ProcessUntil;
using unitbench::SlowFlash;
using unitbench::Unpaced;

namespace {

class Hold : public unitbench::WindowCycle
{
protected:
    // The outcome column of the unit record's last line.
    QString LastOutcome()
    {
        const QList<QByteArray> lines =
            unitbench::ReadBytes(unit->Path(upload::UnitRecordFileName)).trimmed().split('\n');
        const QList<QByteArray> fields = lines.last().trimmed().split(',');
        return fields.size() > 13 ? QString(fields[13]) : QString();
    }
};

TEST_F(Hold, AUnitThatGivesUpUnderItsOwnHoldEndsTheTransferAsFailed)
{
    // The unit stops the line and never lets it go; after 5 s without a line it gives up
    // ("Download failed") and greets again 2 s later.
    Start(SlowFlash + QStringList{"--fault", "never-xon", "--line-timeout", "5"});
    const QString path = unit->MakeFirmware("firmware.out", 16384);
    ASSERT_FALSE(path.isEmpty());

    tool->SelectFile(path);
    const QString failed = "Download Failed!!!  Waiting for Connection...";
    EXPECT_TRUE(tool->StatusHistory().contains(failed))
        << tool->StatusHistory().join("\n").toStdString();
    // The hold's age was on the status bar while nothing moved.
    EXPECT_FALSE(tool->StatusHistory().filter("Unit holding the line: ").isEmpty());
    const QStringList log = tool->LogTexts();
    EXPECT_TRUE(log.contains("status : " + failed));
    EXPECT_FALSE(log.contains("status : Finished Uploading"));
    EXPECT_FALSE(log.contains("status : Upload Canceled"));
    EXPECT_EQ(form->PageControl1->currentWidget(), form->CommSheet);
    EXPECT_FALSE(form->XoffShown());
    EXPECT_EQ(LastOutcome(), "download-failed");

    // The unit greets again: it is recognised, and the hold of the unit that gave up no
    // longer stops the line.
    ASSERT_TRUE(tool->WaitForStatus(Greeted, 15s)) << tool->Status();
    EXPECT_EQ(form->DialogueState(), Connected);
    ASSERT_NE(form->MyCom1->PortDriver(), nullptr);
    EXPECT_FALSE(form->MyCom1->PortDriver()->OutputHeld());
}

TEST_F(Hold, FocusEnteringCommSetupDuringATransferCutsNoLine)
{
    // The unit holds the line again and again; the operator presses Connect in the middle of
    // the transfer, which moves the focus into the Comm Setup page and purges the port.
    Start(SlowFlash);
    const QString path = unit->MakeFirmware("firmware.out", 16384);
    ASSERT_FALSE(path.isEmpty());

    int presses = 0;
    tool->SelectFile(
        path,
        [&] {
            if (presses < 3 && form->Transferring()) {
                ++presses;
                form->PageControl1->setCurrentWidget(form->CommSheet);
                tool->Click(form->ConnectButton);
            }
        },
        200ms);
    EXPECT_GE(presses, 1);
    EXPECT_TRUE(tool->LogTexts().contains("status : Finished Uploading"));
    // Every line reached the unit whole: it programs the image and says so.
    ASSERT_TRUE(tool->WaitForStatus(CrcOk, 30s)) << tool->Status();
    ASSERT_TRUE(unit->WaitForUnits(1, 20s));
    EXPECT_EQ(unit->Units().last().toObject().value("result").toString(), "crc-ok");
}

} // namespace
