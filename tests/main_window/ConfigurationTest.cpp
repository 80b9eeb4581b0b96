// The window's settings in Uploader.ini: the start-up load with its log lines, defaults,
// the port table, one write per change of a box, and failed writes.
#include "platform/OpenDialog.h"
#include "platform/PortNames.h"
#include "tests/main_window/WindowFixture.h"
#include "tests/support/TestApp.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <filesystem>

namespace fs = std::filesystem;

namespace mainwindow {
namespace {

class Configuration : public WindowTest
{
protected:
    std::string NoPorts() const
    {
        return "[Ports]\nCOM1=" + (dir / "none1").string() + "\nCOM2=" + (dir / "none2").string() +
               "\nCOM3=" + (dir / "none3").string() + "\n";
    }
    std::string IniPath() const { return (dir / "Uploader.ini").string(); }
};

TEST_F(Configuration, MissingFileGivesDefaultsAndCreatesNoFile)
{
    CreateWindows();
    EXPECT_EQ(form->cbComPort->currentIndex(), 1);
    EXPECT_EQ(form->cbComPort->currentText(), "COM2");
    EXPECT_EQ(form->cbBaudRate->currentText(), "115200");
    EXPECT_EQ(form->OpenDialog1->FileName, "");
    EXPECT_EQ(PortMap().size(), 0u);
    form->close();
    EXPECT_FALSE(fs::exists(IniPath()));

    const auto log = LogTexts();
    ASSERT_GE(log.size(), 7u);
    EXPECT_EQ(log[0], "initialization : ini file : " + IniPath());
    EXPECT_EQ(log[1], IniPath());
    EXPECT_EQ(log[2], "initialization : com port : COM2");
    EXPECT_EQ(log[3], "initialization : BaudRate : 115200");
    EXPECT_EQ(log[4], "initialization : fileName : ");
    EXPECT_EQ(log[5].rfind("initialization : serial devices : ", 0), 0u) << log[5];
    EXPECT_EQ(log[6], "status : com port open successful");
}

struct StoredCase
{
    const char* name;
    std::string ini;
    int portIndex;
    std::string baudText;
    std::string fileName;
    std::string portLine;
};

TEST_F(Configuration, StoredValuesFillTheBoxesAndTheLog)
{
    const std::vector<StoredCase> cases = {
        {"PortCOM4", "[SystemSection]\nPort=COM4\n", 3, "115200", "", "COM4"},
        {"LowerCaseSelectsCOM2", "[SystemSection]\nPort=com3\n", 1, "115200", "", "com3"},
        {"UnknownPort", "[SystemSection]\nPort=COM5\n", 1, "115200", "", "COM5"},
        {"EmptyPort", "[SystemSection]\nPort=\n", 1, "115200", "", ""},
        {"Baud9600", "[SystemSection]\nBaud=9600\n", 1, "9600", "", "COM2"},
        {"BaudShownUnchanged", "[SystemSection]\nbaud= fast \n", 1, "fast", "", "COM2"},
        {"FileName", "[SYSTEMSECTION]\nFileName=\"/srv/fw/unit 5.out\"\nPort=COM1\n", 0, "115200",
         "/srv/fw/unit 5.out", "COM1"},
    };
    for (const StoredCase& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(dir / "Orvix500Upload.Log");
        WriteIni(c.ini + NoPorts());
        CreateWindows();
        EXPECT_EQ(form->cbComPort->currentIndex(), c.portIndex);
        EXPECT_EQ(form->cbBaudRate->currentText().toStdString(), c.baudText);
        EXPECT_EQ(form->OpenDialog1->FileName, c.fileName);
        const auto log = LogTexts();
        ASSERT_GE(log.size(), 6u);
        EXPECT_EQ(log[2], "initialization : com port : " + c.portLine);
        EXPECT_EQ(log[3], "initialization : BaudRate : " + c.baudText);
        EXPECT_EQ(log[4], "initialization : fileName : " + c.fileName);
        EXPECT_EQ(log[5], "initialization : port map : COM1=" + (dir / "none1").string() +
                              ", COM2=" + (dir / "none2").string() +
                              ", COM3=" + (dir / "none3").string());
        EXPECT_EQ(PortMap().at(3), (dir / "none3").string());
        form.reset();
        help.reset();
    }
}

TEST_F(Configuration, TypingIntoTheSpeedBoxWritesEachKeystroke)
{
    WriteIni("; site settings\n[Ports]\nCOM2=" + (dir / "none2").string() +
             "\n[SystemSection]\nPort=COM2\n; trailing comment\n");
    CreateWindows();
    // The operator types into the box, which has the focus: an empty box is no speed yet, but
    // it is not refused while the edit goes on.
    ShowAndActivate();
    QLineEdit* edit = form->cbBaudRate->lineEdit();
    edit->setFocus();
    QApplication::processEvents();
    ASSERT_TRUE(edit->hasFocus());
    edit->clear();
    std::vector<std::string> stored;
    for (const char key : std::string("1152")) {
        QTest::keyClick(edit, key);
        stored.push_back(ReadIni());
    }
    const std::string head = "; site settings\n[Ports]\nCOM2=" + (dir / "none2").string() +
                             "\n[SystemSection]\nPort=COM2\n; trailing comment\nBaud=";
    EXPECT_EQ(stored, (std::vector<std::string>{head + "1\n", head + "11\n", head + "115\n",
                                                head + "1152\n"}));
    EXPECT_TRUE(testapp::ShownExceptions().empty());
}

TEST_F(Configuration, SavesGoToTheStartUpDirectory)
{
    WriteIni(NoPorts());
    CreateWindows();
    const fs::path elsewhere = dir / "elsewhere";
    fs::create_directory(elsewhere);
    fs::current_path(elsewhere);
    form->cbComPort->setCurrentIndex(2);
    EXPECT_FALSE(fs::exists(elsewhere / "Uploader.ini"));
    EXPECT_NE(ReadIni().find("[SystemSection]\nPort=COM3\n"), std::string::npos);
}

TEST_F(Configuration, UnwritableFileStopsTheChangeAndShowsTheError)
{
    CreateWindows();
    // A directory where the file should be stops every writer, root included.
    fs::create_directory(dir / "Uploader.ini");
    const std::size_t linesBefore = LogTexts().size();
    form->cbBaudRate->setEditText("9600");
    form->cbComPort->setCurrentIndex(0);
    EXPECT_EQ(testapp::ShownExceptions(),
              std::vector<AnsiString>(2, "Unable to write to " + IniPath()));
    EXPECT_EQ(LogTexts().size(), linesBefore);
    EXPECT_TRUE(fs::is_directory(dir / "Uploader.ini"));
}

} // namespace
} // namespace mainwindow
