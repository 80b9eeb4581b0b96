// The window's handling of the serial port: opening at start-up, re-opening when the port
// or the line speed changes, and the XON/XOFF box.
#include "app/IntConversion.h"
#include "app/Uploader.h"
#include "components/QuickLogFile.h"
#include "platform/PortAdvice.h"
#include "platform/ProfileFile.h"
#include "platform/SerialDevices.h"
#include "serial/MyCom.h"

#include <QCheckBox>
#include <QComboBox>
#include <QSignalBlocker>
#include <string>

namespace {

AnsiString BoxText(const QComboBox* box)
{
    return box->currentText().toLocal8Bit().toStdString();
}

// The entry the port box's text selects: a text typed by the operator selects the entry it
// equals (with case), and no entry (-1) otherwise.
int SelectedIndex(const QComboBox* box)
{
    return box->findText(box->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
}

// Shows `text` in a box without running the box's change handler.
void ShowInBox(QComboBox* box, const QString& text)
{
    const QSignalBlocker quiet(box);
    const int index = box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0)
        box->setCurrentIndex(index);
    else
        box->setEditText(text);
}

} // namespace

void TForm1::OpenPortAtStartup()
{
    LogFile->Log("initialization : serial devices : " + SerialDevicesText(ListSerialDevices()));
    try {
        MyCom1->SetPort(std::uint32_t(cbComPort->currentIndex() + 1));
        // The port runs at the speed the line-speed box shows.
        MyCom1->SetBaud(std::uint32_t(BaudFromText(BoxText(cbBaudRate))));
        MyCom1->ComInit();
        MyCom1->SetXonXoff(true);
        LogFile->Log("status : com port open successful");
    } catch (const Exception&) {
        LogFile->Log("com port open failed");
    }
    LogSystemError();
}

void TForm1::ShowPortError()
{
    if (!MyCom1->Initialized)
        SetStatus(MyCom1->ErrorText);
    ShowFolderWarning();
}

void TForm1::LogSystemError()
{
    // The operator's status text stays short; the log keeps the system's reason.
    if (!MyCom1->Initialized && !MyCom1->SystemErrorText.empty())
        LogFile->Log("status : " + MyCom1->SystemErrorText);
    if (!MyCom1->Initialized)
        for (const std::string& line :
             PortOpenAdvice("COM" + std::to_string(MyCom1->Port()), MyCom1->OpenResult))
            LogFile->Log("port help : " + line);
    // At start-up the window is not shown yet and ShowPortError, which follows, shows it.
    if (isVisible())
        ShowFolderWarning();
}

void TForm1::ReopenPort()
{
    MyCom1->ComClose();
    PortOpened();
    MyCom1->SetPort(std::uint32_t(SelectedIndex(cbComPort) + 1));
    MyCom1->ComInit();
    MyCom1->SetXonXoff(ckbXonXoff->isChecked());
}

void TForm1::cbComPortChange(TObject*)
{
    try {
        FIniFile->WriteString("SystemSection", "Port", BoxText(cbComPort));
    } catch (const Exception&) {
        // The port stays open as it was: the box must not name another one.
        const std::uint32_t open = MyCom1->Port();
        if (open >= 1 && open <= std::uint32_t(cbComPort->count()))
            ShowInBox(cbComPort, cbComPort->itemText(int(open - 1)));
        throw;
    }
    ReopenPort();
    const std::uint32_t port = MyCom1->Port();
    if (!MyCom1->Initialized)
        SetStatus(MyCom1->ErrorText);
    else
        SetStatus("Port " + std::to_string(port) + " Selected");
    LogFile->Log("port : " + std::to_string(port));
    LogSystemError();
}

void TForm1::cbBaudRateChange(TObject*)
{
    const AnsiString text = BoxText(cbBaudRate);
    try {
        FIniFile->WriteString("SystemSection", "Baud", text);
    } catch (const Exception&) {
        ShowInBox(cbBaudRate, QString::number(MyCom1->Baud()));
        throw;
    }
    const std::int32_t baud = BaudFromText(text);
    MyCom1->ComClose();
    PortOpened();
    MyCom1->SetBaud(std::uint32_t(baud));
    MyCom1->ComInit();
    MyCom1->SetXonXoff(ckbXonXoff->isChecked());
    if (!MyCom1->Initialized)
        SetStatus(MyCom1->ErrorText);
    else
        SetStatus("Baud : " + std::to_string(baud));
    LogFile->Log("BaudRate : " + text);
    LogSystemError();
}

void TForm1::LogSerialErrorAdvice(const AnsiString& errorText)
{
    if (const std::string advice = SerialErrorAdvice(errorText); !advice.empty())
        LogFile->Log("port help : " + advice);
}

void TForm1::ckbXonXoffClick(TObject*)
{
    MyCom1->SetXonXoff(ckbXonXoff->isChecked());
}
