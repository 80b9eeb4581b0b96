// What the operator reads of a unit's verdict: the status bar's text whole on hover when the
// bar cuts it, a verdict that stands apart by its colour, and the last unit's verdict kept on
// the Upload page after the next unit has greeted. The real main window against orvix-sim.
#include "app/Uploader.h"
#include "tests/support/TestApp.h"
#include "tests/upload_cycle/UnitBench.h"
#include "tests/upload_cycle/WindowCycle.h"

#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using unitbench::CrcOk;
using unitbench::Greeted;
using unitbench::Quick;

namespace {

class Verdict : public unitbench::WindowCycle
{
};

TEST_F(Verdict, EachVerdictStandsApartAndTheLastStaysAfterTheNextGreeting)
{
    const struct
    {
        QStringList faults;
        QString status;
        QString kept;
        const char* colour;
    } cases[] = {
        {{"--fault", "bad-crc"},
         "CRC Bad!!!  Waiting for Connection...",
         "Last unit: CRC Bad",
         "#b00000"},
        {{"--fault", "program-fail"},
         "Programming Failed!!!  Waiting for Connection...",
         "Last unit: Programming Failed",
         "#b00000"},
        {{}, CrcOk, "Last unit: CRC OK", "#006400"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status.toStdString());
        Start(Quick + c.faults + QStringList{"--greet-after", "1"});
        const QString path = unit->MakeFirmware("firmware.out", 2048);
        ASSERT_FALSE(path.isEmpty());
        tool->SelectFile(path);
        ASSERT_TRUE(tool->WaitForStatus(c.status)) << tool->Status();
        EXPECT_TRUE(form->StatusBar1->styleSheet().contains(c.colour));
        // The bar is narrower than the longer verdicts: they are there whole on hover.
        const bool cut = form->StatusBar1->fontMetrics().horizontalAdvance(c.status) >
                         form->StatusBar1->width() - 8;
        EXPECT_EQ(form->StatusBar1->toolTip(), cut ? c.status : QString());

        // The next unit greets: the bar says so, the verdict stays on the Upload page.
        ASSERT_TRUE(tool->WaitForStatus(Greeted, 10s)) << tool->Status();
        EXPECT_EQ(form->StatusBar1->styleSheet(), "");
        EXPECT_EQ(form->LastVerdict->text(), c.kept);
        EXPECT_TRUE(form->LastVerdict->styleSheet().contains(c.colour));
        EXPECT_TRUE(form->LastVerdict->isVisibleTo(form));
        tool.reset();
        unit.reset();
    }
}

TEST_F(Verdict, ALongFileCheckFailureIsThereWholeOnHover)
{
    Start(Quick);
    const QString path = unit->MakeFirmware("firmware.out", 2048, {"--bad-record-checksum"});
    ASSERT_FALSE(path.isEmpty()) << unit->Error().toStdString();
    tool->SelectFile(path);
    const QString status = QString::fromStdString(tool->Status());
    ASSERT_TRUE(status.startsWith("File check failed: line ")) << status.toStdString();
    EXPECT_EQ(form->StatusBar1->toolTip(), status);
    EXPECT_TRUE(tool->Terminal().contains("[" + status + "]"));
    EXPECT_TRUE(form->StatusBar1->styleSheet().contains("#b00000"));
    // Not a unit's verdict: the Upload page's line keeps what it had.
    EXPECT_EQ(form->LastVerdict->text(), "");
}

} // namespace
