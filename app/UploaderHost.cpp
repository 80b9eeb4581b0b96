#include "app/UploaderHost.h"

#include "app/Help.h"
#include "app/Uploader.h"
#include "components/QuickLogFile.h"
#include "components/ThdTimer.h"
#include "platform/PortNames.h"
#include "platform/ProcessPriority.h"
#include "serial/MyCom.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>

std::string TForm1Host::Send(const std::string& bytes)
{
    return form_.MyCom1->Send(bytes) ? std::string() : form_.MyCom1->ErrorText;
}

void TForm1Host::AbandonSends()
{
    form_.MyCom1->AbandonSends();
}

void TForm1Host::Purge()
{
    form_.MyCom1->Purge();
}

void TForm1Host::ReleaseHold()
{
    form_.MyCom1->ReleaseHold();
}

upload::PortIdentity TForm1Host::Port() const
{
    const std::string port = "COM" + std::to_string(form_.MyCom1->Port());
    return {port, ResolvePortName(port), form_.MyCom1->Baud()};
}

void TForm1Host::Advise(const std::string& errorText)
{
    form_.LogSerialErrorAdvice(errorText);
}

void TForm1Host::WakeUpTimer(bool on)
{
    form_.ThreadedTimer1->SetEnabled(on);
}

void TForm1Host::Status(const std::string& text)
{
    form_.SetStatus(text);
}

void TForm1Host::Log(const std::string& text)
{
    form_.LogFile->Log(text);
}

void TForm1Host::Terminal(const std::string& text, bool atOnce)
{
    if (atOnce) {
        // Progress shows at once, after whatever text was still gathered.
        form_.FlushTerminal();
        form_.AppendToTerminal(text);
        return;
    }
    form_.ShowInTerminal(text);
}

void TForm1Host::FlushTerminal()
{
    form_.FlushTerminal();
}

void TForm1Host::ShowPage(upload::Page page)
{
    form_.SetActivePage(page == upload::Page::Upload ? form_.UploadSheet : form_.CommSheet);
}

void TForm1Host::BrowseEnabled(bool on)
{
    if (on)
        form_.bBrowse->setEnabled(true);
    else
        form_.DisableControl(form_.bBrowse);
}

void TForm1Host::ProgressMaximum(int maximum)
{
    maximum_ = maximum;
    // A bar whose maximum is its minimum shows a busy animation: a file too short to count
    // gets a bar of one step, which stays empty.
    form_.ProgressBar1->setMaximum(std::max(maximum, 1));
}

void TForm1Host::Progress(int position)
{
    form_.ProgressBar1->setValue(position);
}

void TForm1Host::XoffLamp(bool lit)
{
    form_.UpdateXoffIndicator(lit);
}

std::string TForm1Host::HelpText() const
{
    return HelpForm ? HelpForm->HelpMemo->toPlainText().toLocal8Bit().toStdString() : std::string();
}

void TForm1Host::SetHelpText(const std::string& text)
{
    if (!HelpForm)
        return;
    HelpForm->HelpMemo->clear();
    HelpForm->HelpMemo->setPlainText(QString::fromLocal8Bit(text.data(), qsizetype(text.size())));
}

void TForm1Host::HighPriority(bool on)
{
    // Best effort: a refusal by the system (a user without the privilege) changes nothing but
    // is told once in a run, with the system's reason.
    static bool told = false;
    std::string reason;
    if (!SetPriorityClass(on ? PriorityClass::High : PriorityClass::Normal, &reason) && on &&
        !told) {
        told = true;
        form_.LogFile->Log("status : Priority not raised: " + reason);
    }
}

bool TForm1Host::AddCr() const
{
    return form_.ckbAddLF->isChecked();
}

bool TForm1Host::SingleStep() const
{
    return form_.ckbSingleStep->isChecked();
}

void TForm1Host::AskStep()
{
    form_.AskStep();
}

void TForm1Host::RecordUnit(const upload::UnitRecord& record)
{
    form_.RecordUnit(record);
}

std::chrono::steady_clock::time_point TForm1Host::Now() const
{
    return std::chrono::steady_clock::now();
}

LocalTime TForm1Host::WallNow() const
{
    return LocalNow();
}
