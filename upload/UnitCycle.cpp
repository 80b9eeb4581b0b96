// The window's side of the unit record: the record of each cycle that began with a transfer,
// and the warning when the working folder takes no record.
#include "app/Uploader.h"
#include "components/QuickLogFile.h"
#include "platform/PortNames.h"
#include "serial/MyCom.h"
#include "upload/UnitRecorder.h"

#include <QFileInfo>

namespace {

QString FromLocal(const AnsiString& text)
{
    return QString::fromLocal8Bit(text.data(), qsizetype(text.size()));
}

} // namespace

upload::UnitRecorder& TForm1::UnitRecords()
{
    if (!unitRecorder) {
        const auto report = [this](const std::string& path) {
            SetStatus("Unable to write to " + path);
            LogFile->Log("status : " + StatusText());
        };
        unitRecorder = {new upload::UnitRecorder(report),
                        [](upload::UnitRecorder* recorder) { delete recorder; }};
    }
    return *unitRecorder;
}

void TForm1::BeginUnitRecord(const AnsiString& path)
{
    const AnsiString port = "COM" + std::to_string(MyCom1->Port());
    UnitRecords().Begin(port, ResolvePortName(port), MyCom1->Baud(),
                        QFileInfo(FromLocal(path)).absoluteFilePath().toLocal8Bit().toStdString());
}

void TForm1::EndUnitRecord(const AnsiString& failure, bool cancelled)
{
    using upload::UnitOutcome;
    UnitRecords().TransferEnded(!failure.empty() ? std::optional(UnitOutcome::SendError)
                                : cancelled      ? std::optional(UnitOutcome::Cancelled)
                                                 : std::nullopt);
}

void TForm1::ShowFolderWarning()
{
    upload::UnitRecorder& records = UnitRecords();
    // With the port unavailable its text keeps the status bar; the warning waits for a port
    // that opens.
    if (!records.folderWarningDue || !MyCom1->Initialized)
        return;
    records.folderWarningDue = false;
    const std::string path =
        upload::FirstUnwritable({LogFile->LogFileName, upload::UnitRecordFileName});
    if (path.empty())
        return;
    SetStatus("Unable to write to " + path);
    LogFile->Log("status : " + StatusText());
}
