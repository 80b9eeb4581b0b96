// The window's side of the unit record: each finished cycle appended to the record file, and
// the warning when the working folder takes no record.
#include "app/Uploader.h"
#include "components/QuickLogFile.h"
#include "serial/MyCom.h"
#include "upload/UnitRecorder.h"

#include <QFile>
#include <QFileInfo>
#include <string>
#include <vector>

namespace {

// The first of the files named (relative to the working directory) that could not be
// appended to: an existing file that does not open for appending, or a missing one whose
// folder is not writable. Its absolute path, or empty when all are writable. Creates nothing.
std::string FirstUnwritable(const std::vector<std::string>& names)
{
    for (const std::string& name : names) {
        const QFileInfo info(QString::fromLocal8Bit(name.data(), qsizetype(name.size())));
        bool writable;
        if (info.exists()) {
            QFile file(info.filePath());
            writable = file.open(QIODevice::WriteOnly | QIODevice::Append);
        } else {
            writable = QFileInfo(info.absolutePath()).isWritable();
        }
        if (!writable)
            return info.absoluteFilePath().toLocal8Bit().toStdString();
    }
    return {};
}

} // namespace

void TForm1::RecordUnit(const upload::UnitRecord& record)
{
    const std::string error =
        upload::AppendCsvLine(upload::UnitRecordFileName, upload::CsvLine(record));
    if (error.empty())
        return;
    // The verdict keeps the status bar: the record's failure is shown in the pane.
    const std::string text = "Unable to write to " +
                             QFileInfo(upload::UnitRecordFileName).absoluteFilePath().toStdString();
    ShowNotice(text);
    LogFile->Log("status : " + text);
}

void TForm1::ShowNotice(const AnsiString& text)
{
    FlushTerminal();
    AppendToTerminal("\r\n[" + text + "]\r\n");
}

void TForm1::ShowFolderWarning()
{
    // With the port unavailable its text keeps the status bar; the warning waits for a port
    // that opens.
    if (!folderWarningDue || !MyCom1->Initialized)
        return;
    folderWarningDue = false;
    const std::string path = FirstUnwritable({LogFile->LogFileName, upload::UnitRecordFileName});
    if (path.empty())
        return;
    SetStatus("Unable to write to " + path);
    LogFile->Log("status : " + StatusText());
}
