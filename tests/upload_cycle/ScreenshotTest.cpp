// The window as the operator sees it in three moments that used to hide what happened: a file
// refused by the check, a CRC Bad verdict after the next unit has greeted, and a port that
// cannot be opened. Each picture is checked for what it must show; with ORVIX_SCREENSHOTS set
// to a folder, the pictures are saved there (docs/ keeps them).
#include "app/Uploader.h"
#include "tests/upload_cycle/WindowCycle.h"

#include <QDir>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTabWidget>

using namespace std::chrono_literals;
using unitbench::Greeted;
using unitbench::Quick;

namespace {

class Screenshot : public unitbench::WindowCycle
{
protected:
    // The window's picture at its size, saved as `name` when pictures are asked for.
    void Take(const char* name)
    {
        form->repaint();
        const QPixmap picture = form->grab();
        EXPECT_EQ(picture.size(), form->size());
        const QByteArray folder = qgetenv("ORVIX_SCREENSHOTS");
        if (!folder.isEmpty()) {
            EXPECT_TRUE(picture.save(QDir(QString::fromLocal8Bit(folder)).filePath(name)));
        }
    }
};

TEST_F(Screenshot, AFileRefusedByTheCheck)
{
    Start(Quick);
    const QString path = unit->MakeFirmware("firmware.out", 2048, {"--bad-record-checksum"});
    tool->SelectFile(path);
    const QString status = QString::fromStdString(tool->Status());
    ASSERT_TRUE(status.startsWith("File check failed: line "));
    EXPECT_TRUE(form->Memo1->toPlainText().contains(status));
    Take("check-failure.png");
}

TEST_F(Screenshot, ACrcBadVerdictKeptAfterTheNextGreeting)
{
    Start(Quick + QStringList{"--fault", "bad-crc", "--greet-after", "1"});
    tool->SelectFile(unit->MakeFirmware("firmware.out", 2048));
    ASSERT_TRUE(tool->WaitForStatus("CRC Bad!!!  Waiting for Connection..."));
    ASSERT_TRUE(tool->WaitForStatus(Greeted, 10s));
    EXPECT_EQ(form->PageControl1->currentWidget(), form->UploadSheet);
    EXPECT_EQ(form->LastVerdict->text(), "Last unit: CRC Bad");
    Take("crc-bad-kept.png");
}

TEST_F(Screenshot, APortThatCannotBeOpenedWithItsFix)
{
    unit = std::make_unique<unitbench::SimulatedUnit>(ORVIX_SIM_PATH, Quick);
    ASSERT_EQ(unit->Error(), "");
    unit->WriteFile("Uploader.ini", "[SystemSection]\r\n[Ports]\r\nCOM2=/dev/ttyUSB7\r\n");
    tool = std::make_unique<unitbench::Uploader>();
    form = &tool->Form();
    EXPECT_EQ(tool->Status(), "Comport Unavailable.");
    EXPECT_TRUE(form->Memo1->toPlainText().contains("/dev/ttyUSB7"));
    EXPECT_TRUE(form->Memo1->toPlainText().contains("fix:"))
        << form->Memo1->toPlainText().toStdString();
    Take("port-problem.png");
}

} // namespace
