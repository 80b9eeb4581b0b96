// Opening the port at start-up and re-opening it when the port or the line speed changes,
// over real pseudo-terminals named in the settings file's port map.
#include "platform/PseudoTerminal.h"
#include "platform/SerialLineSettings.h"
#include "serial/MyCom.h"
#include "tests/main_window/WindowFixture.h"
#include "tests/support/TestApp.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace mainwindow {
namespace {

class PortSelection : public WindowTest
{
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        WriteIni("[Ports]\nCOM2=" + com2.SlavePath() + "\nCOM3=" + com3.SlavePath() +
                 "\nCOM4=" + (dir / "missing").string() + "\nCOM7=" + com7.SlavePath() + "\n");
    }

    // The speed the kernel holds for the device, as another opener sees it.
    static std::uint32_t DeviceSpeed(const std::string& path)
    {
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        std::uint32_t rate = 0;
        EXPECT_EQ(GetLineSpeed(fd, &rate), 0);
        ::close(fd);
        return rate;
    }

    std::string LastLogText() const
    {
        const auto log = LogTexts();
        return log.empty() ? std::string() : log.back();
    }

    PseudoTerminal com2;
    PseudoTerminal com3;
    PseudoTerminal com7;
};

TEST_F(PortSelection, StartUpOpensTheStoredPort)
{
    CreateWindows();
    EXPECT_TRUE(form->MyCom1->Initialized);
    EXPECT_EQ(form->MyCom1->Port(), 2u);
    EXPECT_EQ(form->MyCom1->Baud(), 115200u);
    EXPECT_TRUE(form->MyCom1->XonXoff());
    EXPECT_EQ(form->StatusText(), "");
    EXPECT_EQ(LastLogText(), "status : com port open successful");
}

TEST_F(PortSelection, StartUpAppliesTheStoredSpeed)
{
    WriteIni(ReadIni() + "[SystemSection]\nBaud=9600\n");
    CreateWindows();
    EXPECT_EQ(form->cbBaudRate->currentText(), "9600");
    EXPECT_EQ(form->MyCom1->Baud(), 9600u);
    EXPECT_TRUE(form->MyCom1->Initialized);
}

TEST_F(PortSelection, StartUpWithAMissingDeviceShowsTheErrorAndLogsTheReason)
{
    WriteIni(ReadIni() + "[SystemSection]\nPort=COM4\n");
    CreateWindows();
    EXPECT_FALSE(form->MyCom1->Initialized);
    EXPECT_EQ(form->StatusText(), form->MyCom1->ErrorText);
    EXPECT_EQ(form->StatusText(), "Comport Unavailable.");
    const auto log = LogTexts();
    const auto opened = std::find(log.begin(), log.end(), "status : com port open successful");
    ASSERT_LE(opened + 3, log.end());
    // The system's reason, then what to do about it.
    EXPECT_EQ(opened[1].rfind("status : " + (dir / "missing").string(), 0), 0u) << opened[1];
    EXPECT_EQ(opened[2], "port help : " + (dir / "missing").string() + " does not exist");
}

TEST_F(PortSelection, APortProblemIsShownWithItsFixAndChoosingThePortAgainRetries)
{
    WriteIni(ReadIni() + "[SystemSection]\nPort=COM4\n");
    CreateWindows();
    ASSERT_FALSE(form->MyCom1->Initialized);
    // The reason and what to do are in the window, not only in the log.
    const std::string missing = (dir / "missing").string();
    EXPECT_TRUE(form->Memo1->toPlainText().contains(
        QString::fromStdString("[" + missing + " does not exist]")))
        << form->Memo1->toPlainText().toStdString();

    // The device appears where the map points; the operator chooses the same port in the
    // list again (the text does not change), which tries it again.
    std::filesystem::create_symlink(com3.SlavePath(), dir / "missing");
    form->cbComPort->showPopup();
    QTest::keyClick(form->cbComPort->view(), Qt::Key_Return);
    EXPECT_TRUE(form->MyCom1->Initialized) << form->MyCom1->ErrorText;
    EXPECT_EQ(form->MyCom1->Port(), 4u);
    EXPECT_EQ(form->StatusText(), "Port 4 Selected");

    // Choosing it again while it is open changes nothing.
    const auto logged = LogTexts().size();
    form->cbComPort->showPopup();
    QTest::keyClick(form->cbComPort->view(), Qt::Key_Return);
    EXPECT_EQ(LogTexts().size(), logged);
}

struct ChangeCase
{
    const char* name;
    bool portBox; // the port box, else the speed box
    bool select;  // a selection from the list (index), else typed text
    int index;
    const char* text;
    const char* status; // null: the port's ErrorText
    const char* logText;
    unsigned port;
    unsigned baud;
};

TEST_F(PortSelection, ChangesReopenThePortAndReport)
{
    CreateWindows();
    const std::vector<ChangeCase> cases = {
        {"select COM3", true, true, 2, "", "Port 3 Selected", "port : 3", 3, 115200},
        {"select COM2", true, true, 1, "", "Port 2 Selected", "port : 2", 2, 115200},
        {"speed 57600", false, true, 3, "", "Baud : 57600", "BaudRate : 57600", 2, 57600},
        {"typed 0", false, false, 0, "0", "Baud : 9600", "BaudRate : 0", 2, 9600},
        {"typed -5", false, false, 0, "-5", "Baud : 9600", "BaudRate : -5", 2, 9600},
        {"typed $4B00", false, false, 0, "$4B00", "Baud : 19200", "BaudRate : $4B00", 2, 19200},
        {"typed COM3", true, false, 0, "COM3", "Port 3 Selected", "port : 3", 3, 19200},
        {"typed COM7 of the map", true, false, 0, "COM7", "Port 7 Selected", "port : 7", 7, 19200},
        {"select COM4 (missing)", true, true, 3, "", nullptr, "port : 4", 4, 19200},
    };
    for (const ChangeCase& c : cases) {
        SCOPED_TRACE(c.name);
        QComboBox* box = c.portBox ? form->cbComPort : form->cbBaudRate;
        const std::size_t linesBefore = LogTexts().size();
        if (c.select)
            box->setCurrentIndex(c.index);
        else
            box->setEditText(c.text);
        const std::string shown = box->currentText().toStdString();
        EXPECT_EQ(form->MyCom1->Port(), c.port);
        EXPECT_EQ(form->MyCom1->Baud(), c.baud);
        if (c.status) {
            EXPECT_TRUE(form->MyCom1->Initialized);
            EXPECT_EQ(form->StatusText(), c.status);
        } else {
            EXPECT_FALSE(form->MyCom1->Initialized);
            EXPECT_EQ(form->StatusText(), "Comport Unavailable.");
        }
        const auto log = LogTexts();
        const bool failed = !form->MyCom1->Initialized && !form->MyCom1->SystemErrorText.empty();
        // One run of the handler: its line, and after a failed open the system's reason and
        // what to do about it.
        ASSERT_GE(log.size(), linesBefore + (failed ? 3 : 1));
        EXPECT_EQ(log[linesBefore], c.logText);
        if (failed) {
            EXPECT_EQ(log[linesBefore + 1].rfind("status : ", 0), 0u);
            for (std::size_t i = linesBefore + 2; i < log.size(); ++i)
                EXPECT_EQ(log[i].rfind("port help : ", 0), 0u) << log[i];
        } else {
            EXPECT_EQ(log.size(), linesBefore + 1);
        }
        const std::string key = c.portBox ? "Port=" : "Baud=";
        EXPECT_NE(ReadIni().find(key + shown + "\n"), std::string::npos);
        EXPECT_TRUE(form->MyCom1->XonXoff());
    }
    EXPECT_TRUE(testapp::ShownExceptions().empty());
}

// A typed text that names no speed and no port of this machine is refused whole: nothing is
// saved, the line stays as it is, the box shows what is open and the status bar says why.
// (Typed texts such as "abc" and "CO" used to be saved and opened at 115200 or as port 0.)
TEST_F(PortSelection, TypedTextsThatNameNoSpeedOrPortAreRefused)
{
    CreateWindows();
    form->cbBaudRate->setCurrentIndex(3); // 57600
    ASSERT_EQ(form->MyCom1->Baud(), 57600u);
    const std::string iniBefore = ReadIni();
    const struct
    {
        bool portBox;
        const char* text;
        const char* status;
    } cases[] = {
        {false, "96OO", "\"96OO\" is not a line speed"},
        {false, "abc", "\"abc\" is not a line speed"},
        {false, "9600 ", "\"9600 \" is not a line speed"},
        {false, "", "\"\" is not a line speed"},
        {true, "COM9",
         "\"COM9\" is not a port: choose COM1 to COM4 or a port of [Ports] in Uploader.ini"},
        {true, "com3",
         "\"com3\" is not a port: choose COM1 to COM4 or a port of [Ports] in Uploader.ini"},
        {true, "CO",
         "\"CO\" is not a port: choose COM1 to COM4 or a port of [Ports] in Uploader.ini"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        QComboBox* box = c.portBox ? form->cbComPort : form->cbBaudRate;
        const std::size_t linesBefore = LogTexts().size();
        box->setEditText(c.text);
        EXPECT_EQ(box->currentText().toStdString(), c.portBox ? "COM2" : "57600");
        EXPECT_EQ(form->StatusText(), c.status);
        EXPECT_EQ(ReadIni(), iniBefore);
        EXPECT_TRUE(form->MyCom1->Initialized);
        EXPECT_EQ(form->MyCom1->Port(), 2u);
        EXPECT_EQ(form->MyCom1->Baud(), 57600u);
        const auto log = LogTexts();
        ASSERT_EQ(log.size(), linesBefore + 1);
        EXPECT_EQ(log.back(), std::string("status : ") + c.status);
    }
    EXPECT_TRUE(testapp::ShownExceptions().empty());
}

// While the operator types, a text on its way to a value ("96" of "9600" is one, "COM" of
// "COM3" is not) is not refused; when the edit ends it is.
TEST_F(PortSelection, AnUnfinishedTextIsRefusedWhenTheEditEnds)
{
    CreateWindows();
    ShowAndActivate();
    QLineEdit* edit = form->cbComPort->lineEdit();
    edit->setFocus();
    QApplication::processEvents();
    ASSERT_TRUE(edit->hasFocus());
    const std::string iniBefore = ReadIni();
    form->cbComPort->setEditText("COM");
    EXPECT_EQ(form->cbComPort->currentText(), "COM");
    EXPECT_EQ(form->MyCom1->Port(), 2u);
    EXPECT_EQ(ReadIni(), iniBefore);
    emit edit->editingFinished();
    EXPECT_EQ(form->cbComPort->currentText(), "COM2");
    EXPECT_EQ(form->StatusText(),
              "\"COM\" is not a port: choose COM1 to COM4 or a port of [Ports] in Uploader.ini");
    EXPECT_TRUE(form->MyCom1->Initialized);
}

TEST_F(PortSelection, TheXonXoffBoxSwitchesFlowControl)
{
    CreateWindows();
    form->ckbXonXoff->setChecked(false);
    EXPECT_FALSE(form->MyCom1->XonXoff());
    form->cbComPort->setCurrentIndex(2); // re-opening passes the box's state
    EXPECT_FALSE(form->MyCom1->XonXoff());
    form->ckbXonXoff->setChecked(true);
    EXPECT_TRUE(form->MyCom1->XonXoff());
}

// Switching XON/XOFF off puts back the settings saved when it was switched on, but the line
// keeps the speed the box shows. (It used to fall back to the speed of that time.)
TEST_F(PortSelection, SwitchingXonXoffOffKeepsTheSpeedTheBoxShows)
{
    CreateWindows(); // XON/XOFF on at 115200
    form->cbBaudRate->setCurrentIndex(3);
    ASSERT_EQ(form->cbBaudRate->currentText(), "57600");
    form->ckbXonXoff->setChecked(false);
    EXPECT_FALSE(form->MyCom1->XonXoff());
    EXPECT_EQ(form->MyCom1->Baud(), 57600u);
    SerialState state;
    ASSERT_TRUE(form->MyCom1->PortDriver()->GetState(state));
    EXPECT_EQ(state.BaudRate, 57600u);
    EXPECT_FALSE(state.fOutX);
    EXPECT_EQ(DeviceSpeed(com2.SlavePath()), 57600u);
    EXPECT_TRUE(testapp::ShownExceptions().empty());
}

TEST_F(PortSelection, AFailedSaveLeavesTheBoxesShowingWhatIsOpen)
{
    CreateWindows();
    ASSERT_TRUE(form->MyCom1->Initialized);
    // A directory where the settings file should be stops every save, root's too.
    std::filesystem::remove(dir / "Uploader.ini");
    std::filesystem::create_directory(dir / "Uploader.ini");

    form->cbComPort->setCurrentIndex(0);
    EXPECT_EQ(testapp::ShownExceptions().size(), 1u);
    EXPECT_EQ(form->cbComPort->currentText(), "COM2");
    EXPECT_EQ(form->MyCom1->Port(), 2u);
    EXPECT_TRUE(form->MyCom1->Initialized);

    form->cbBaudRate->setEditText("9600");
    EXPECT_EQ(testapp::ShownExceptions().size(), 2u);
    EXPECT_EQ(form->cbBaudRate->currentText(), "115200");
    EXPECT_EQ(form->MyCom1->Baud(), 115200u);
    testapp::ResetRecorders();
}

} // namespace
} // namespace mainwindow
