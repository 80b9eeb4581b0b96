// Opening the port at start-up and re-opening it when the port or the line speed changes,
// over real pseudo-terminals named in the settings file's port map.
#include "platform/PseudoTerminal.h"
#include "serial/MyCom.h"
#include "tests/main_window/WindowFixture.h"
#include "tests/support/TestApp.h"

#include <QCheckBox>
#include <QComboBox>
#include <filesystem>

namespace mainwindow {
namespace {

class PortSelection : public WindowTest
{
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        WriteIni("[Ports]\nCOM2=" + com2.SlavePath() + "\nCOM3=" + com3.SlavePath() +
                 "\nCOM4=" + (dir / "missing").string() + "\n");
    }

    std::string LastLogText() const
    {
        const auto log = LogTexts();
        return log.empty() ? std::string() : log.back();
    }

    PseudoTerminal com2;
    PseudoTerminal com3;
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
        {"typed abc", false, false, 0, "abc", "Baud : 115200", "BaudRate : abc", 2, 115200},
        {"typed $4B00", false, false, 0, "$4B00", "Baud : 19200", "BaudRate : $4B00", 2, 19200},
        {"typed CO", true, false, 0, "CO", nullptr, "port : 0", 0, 19200},
        {"typed COM3", true, false, 0, "COM3", "Port 3 Selected", "port : 3", 3, 19200},
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
