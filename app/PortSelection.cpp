// The window's handling of the serial port: opening at start-up, re-opening when the port
// or the line speed changes, and the XON/XOFF box.
#include "app/IntConversion.h"
#include "app/Uploader.h"
#include "components/QuickLogFile.h"
#include "platform/Application.h"
#include "platform/PortAdvice.h"
#include "platform/PortNames.h"
#include "platform/ProfileFile.h"
#include "platform/SerialDevices.h"
#include "serial/MyCom.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSignalBlocker>
#include <string>

namespace {

AnsiString BoxText(const QComboBox* box)
{
    return box->currentText().toLocal8Bit().toStdString();
}

// The port the port box's text names: an entry of its list (COM1 to COM4, with case) or a
// port of the [Ports] map written as "COM" and its number; 0 for any other text.
std::uint32_t PortOfText(const QComboBox* box)
{
    const QString text = box->currentText();
    if (const int index = box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
        index >= 0)
        return std::uint32_t(index + 1);
    bool number = false;
    const unsigned n = text.mid(3).toUInt(&number);
    if (number && text == "COM" + QString::number(n) && PortMap().count(n))
        return n;
    return 0;
}

// Whether the speed box's text is a line speed: a number as the class library reads it
// (decimal, or hexadecimal after $ or 0x); anything else would open the line at a speed
// the operator never asked for.
bool IsSpeedText(const AnsiString& text)
{
    return TryStrToInt(text).has_value();
}

// The operator is still typing into the box: a text that is no value yet is left alone until
// the edit ends.
bool Typing(const QComboBox* box)
{
    return box->lineEdit() && box->lineEdit()->hasFocus();
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

// Refuses a typed text that names no port or speed: nothing is saved or opened, the box shows
// what is open again, and the status bar and the log say why.
void RefuseText(TForm1& form, QComboBox* box, const QString& open, const AnsiString& why)
{
    ShowInBox(box, open);
    form.SetStatus(why);
    form.LogFile->Log("status : " + why);
}

// Built by appending: GCC 12 warns falsely (-Wrestrict) about a literal + a temporary string.
AnsiString Quoted(const QComboBox* box)
{
    AnsiString text = "\"";
    text += BoxText(box);
    text += '"';
    return text;
}

AnsiString PortRefusal(const QComboBox* box)
{
    return Quoted(box) + " is not a port: choose COM1 to COM4 or a port of [Ports] in Uploader.ini";
}

AnsiString SpeedRefusal(const QComboBox* box)
{
    return Quoted(box) + " is not a line speed";
}

QString OpenPortText(const TMyCom& com)
{
    return "COM" + QString::number(com.Port());
}

QString OpenSpeedText(const TMyCom& com)
{
    return QString::number(com.Baud());
}

} // namespace

void TForm1::OpenPortAtStartup()
{
    // A text that is no value yet is left alone while the operator types; when the edit
    // ends (Enter, or the focus leaves the box) it is refused.
    connect(cbComPort->lineEdit(), &QLineEdit::editingFinished, this, [this] {
        Application->HandleEvent([this] {
            if (PortOfText(cbComPort) == 0)
                RefuseText(*this, cbComPort, OpenPortText(*MyCom1), PortRefusal(cbComPort));
        });
    });
    connect(cbBaudRate->lineEdit(), &QLineEdit::editingFinished, this, [this] {
        Application->HandleEvent([this] {
            if (!IsSpeedText(BoxText(cbBaudRate)))
                RefuseText(*this, cbBaudRate, OpenSpeedText(*MyCom1), SpeedRefusal(cbBaudRate));
        });
    });
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

// The status text of a failed opening: the component's text ("Comport Unavailable."), or,
// when the device opened but refused the settings (a speed it cannot make), the system's
// words, which name the device and the speed.
static AnsiString OpenFailureText(const TMyCom& com)
{
    if (com.OpenResult == SerialResult::Ok && !com.SystemErrorText.empty())
        return com.SystemErrorText;
    return com.ErrorText;
}

void TForm1::ShowPortError()
{
    if (!MyCom1->Initialized)
        SetStatus(OpenFailureText(*MyCom1));
    ShowFolderWarning();
}

void TForm1::LogSystemError()
{
    // The operator's status text stays short; the log keeps the system's reason and what to
    // do, and the pane shows them too, so the operator need not open the log to learn them.
    if (!MyCom1->Initialized && !MyCom1->SystemErrorText.empty()) {
        LogFile->Log("status : " + MyCom1->SystemErrorText);
        ShowNotice(MyCom1->SystemErrorText);
    }
    if (!MyCom1->Initialized)
        for (const std::string& line :
             PortOpenAdvice("COM" + std::to_string(MyCom1->Port()), MyCom1->OpenResult)) {
            LogFile->Log("port help : " + line);
            ShowNotice(line);
        }
    // At start-up the window is not shown yet and ShowPortError, which follows, shows it.
    if (isVisible())
        ShowFolderWarning();
}

void TForm1::ReopenPort()
{
    MyCom1->ComClose();
    PortOpened();
    if (const std::uint32_t port = PortOfText(cbComPort))
        MyCom1->SetPort(port);
    MyCom1->ComInit();
    MyCom1->SetXonXoff(ckbXonXoff->isChecked());
}

void TForm1::cbComPortChange(TObject*)
{
    if (PortOfText(cbComPort) == 0) {
        if (!Typing(cbComPort))
            RefuseText(*this, cbComPort, OpenPortText(*MyCom1), PortRefusal(cbComPort));
        return;
    }
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
        SetStatus(OpenFailureText(*MyCom1));
    else
        SetStatus("Port " + std::to_string(port) + " Selected");
    LogFile->Log("port : " + std::to_string(port));
    LogSystemError();
}

void TForm1::cbBaudRateChange(TObject*)
{
    const AnsiString text = BoxText(cbBaudRate);
    if (!IsSpeedText(text)) {
        if (!Typing(cbBaudRate))
            RefuseText(*this, cbBaudRate, OpenSpeedText(*MyCom1), SpeedRefusal(cbBaudRate));
        return;
    }
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
        SetStatus(OpenFailureText(*MyCom1));
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
    // Switching it off puts back the settings saved when it was first switched on, their
    // speed included; the line keeps the speed the box shows.
    if (!ckbXonXoff->isChecked())
        MyCom1->SetBaud(MyCom1->Baud());
}
