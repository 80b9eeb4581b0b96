// The window's side of the file transfer: Select File, Cancel, the published upload handler,
// the single-step question and the XOFF indicator. The engine sends the file; nothing here
// waits for the line.
#include "app/Uploader.h"
#include "components/QuickLogFile.h"
#include "platform/Application.h"
#include "platform/OpenDialog.h"
#include "platform/ProfileFile.h"
#include "serial/MyCom.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

namespace {

// The file named by `path`, read once: the bytes checked, hashed, recorded and sent.
upload::FirmwareFile ReadFirmware(const AnsiString& path)
{
    upload::FirmwareFile file;
    file.path = path;
    const QString name = QString::fromLocal8Bit(path.data(), qsizetype(path.size()));
    file.absolutePath = QFileInfo(name).absoluteFilePath().toLocal8Bit().toStdString();
    QFile in(name);
    if (!in.open(QIODevice::ReadOnly)) {
        file.error = in.errorString().toStdString();
        return file;
    }
    const QByteArray bytes = in.readAll();
    if (in.error() != QFileDevice::NoError) {
        file.error = in.errorString().toStdString();
        return file;
    }
    file.opened = true;
    file.bytes.assign(bytes.constData(), std::size_t(bytes.size()));
    return file;
}

} // namespace

void TForm1::bBrowseClick(TObject* /*Sender*/)
{
    if (!OpenDialog1->Execute()) {
        engine->FileNotChosen();
        return;
    }
    DisableControl(bBrowse);
    try {
        FIniFile->WriteString("SystemSection", "FileName", OpenDialog1->FileName);
    } catch (const Exception& e) {
        // Not remembering the file is no reason not to program the unit: the failure is
        // logged, and shown once in a run where it hides nothing.
        LogFile->Log("status : " + e.Message);
        if (!iniSaveFailureShown) {
            iniSaveFailureShown = true;
            ShowNotice(e.Message);
        }
    }
    TransferFile();
}

void TForm1::bCancelClick(TObject* /*Sender*/)
{
    // With the focus on the Cancel button this enters the Comm Setup page at once.
    SetActivePage(CommSheet);
    engine->Cancel();
}

void TForm1::bUploadClick(TObject* /*Sender*/)
{
    LogFile->Log("status : start upload");
    TransferFile();
}

void TForm1::TransferFile()
{
    engine->Transfer(ReadFirmware(OpenDialog1->FileName));
}

void TForm1::AskStep()
{
    // Asked from the message loop, not from inside the engine's event: the box's own loop
    // then runs no handler nested in another.
    QTimer::singleShot(0, this, [this] {
        const bool goOn =
            Application->MessageBox("OK to Step", "Single Step", MB_OKCANCEL) != IDCANCEL;
        if (!goOn)
            ckbSingleStep->setChecked(false);
        if (engine)
            engine->StepAnswered(goOn);
    });
}

void TForm1::UpdateXoffIndicator(bool held)
{
    XoffLabel->setEnabled(held);
    // The label's background shows the colour: red while held, the button face otherwise.
    QPalette palette = XoffLabel->palette();
    palette.setColor(XoffLabel->backgroundRole(),
                     held ? QColor(Qt::red)
                          : QApplication::palette(XoffLabel).color(QPalette::Button));
    XoffLabel->setPalette(palette);
    XoffLabel->repaint();
}
