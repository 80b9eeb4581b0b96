// The window's side of the dialogue with the unit: each handler feeds the upload engine the
// event it stands for; the engine answers through the window's host (UploaderHost.h).
#include "app/Uploader.h"
#include "app/UploaderHost.h"
#include "components/QuickLogFile.h"
#include "serial/MyCom.h"

#include <QTimer>

void TForm1::ConnectButtonClick(TObject* /*Sender*/)
{
    // With no port open (or a line that failed), Connect first tries the chosen port again, as a
    // change of the port box does: the device may have appeared since.
    if ((!MyCom1->Initialized || engine->Failed()) && !engine->Transferring())
        ReopenPort();
    engine->Connect(MyCom1->Initialized ? std::string() : MyCom1->ErrorText);
    if (!MyCom1->Initialized)
        LogSystemError();
}

void TForm1::ThreadedTimer1Timer(TObject* /*Sender*/)
{
    engine->WakeUpTick();
}

void TForm1::MyCom1StatusChanged(TObject* /*Sender*/, bool /*ctsOn*/, bool /*dsrOn*/,
                                 bool /*ringOn*/, bool /*rlsdOn*/)
{
}

void TForm1::CommSheetEnter(TObject* /*Sender*/)
{
    engine->CommPageEntered();
}

void TForm1::MyCom1PacketReceived(TObject* /*Sender*/, AnsiString& buffer)
{
    engine->Packet(buffer);
}

void TForm1::MyCom1SendProgress(TObject* /*Sender*/, const TSendReport& report)
{
    engine->PortReport(report);
    if (!report.failure.empty())
        ReleaseFailedLineLater();
}

void TForm1::ReaderFailed(const AnsiString& errorText)
{
    engine->LineFailed(errorText);
    ReleaseFailedLineLater();
}

void TForm1::ReleaseFailedLineLater()
{
    // The reader reports from inside its own hand-over, where the port cannot be closed.
    QTimer::singleShot(0, this, [this] { ReleaseFailedLine(); });
}

void TForm1::ReleaseFailedLine()
{
    // A vanished adapter stays in use while its device is open, and the kernel then gives
    // the adapter plugged in again another name: let go of it, so choosing the port again (or
    // Connect) finds it under its own name.
    if (engine->Failed() && !engine->Transferring() && MyCom1->Reader)
        MyCom1->ComClose();
}

void TForm1::PortOpened()
{
    engine->PortOpened();
}
