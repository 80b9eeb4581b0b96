// The window's side of the firmware check: the file chosen is read whole and checked before
// its first byte goes out; a file that fails is not sent and the unit stays connected.
#include "app/Uploader.h"
#include "components/QuickLogFile.h"
#include "upload/FirmwareCheck.h"
#include "upload/UnitRecorder.h"

#include <QCryptographicHash>
#include <QFile>
#include <QPushButton>

bool TForm1::CheckFirmwareFile(const AnsiString& path)
{
    QFile file(QString::fromLocal8Bit(path.data(), qsizetype(path.size())));
    QByteArray bytes;
    upload::FirmwareCheckResult check;
    if (file.open(QIODevice::ReadOnly)) {
        bytes = file.readAll();
        check =
            upload::CheckFirmware(std::string_view(bytes.constData(), std::size_t(bytes.size())));
    }
    if (!file.isOpen() || file.error() != QFileDevice::NoError) {
        check.ok = false;
        check.reason = "the file cannot be read (" + file.errorString().toStdString() + ")";
    }
    const std::string sha256 =
        QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString();
    if (!check.ok) {
        SetStatus("File check failed: " + check.FailureText());
        LogFile->Log("status : " + StatusText());
        // The unit has received nothing and stays connected: another file may be chosen.
        bBrowse->setEnabled(true);
        return false;
    }
    UnitRecords().FileChecked(std::uint64_t(bytes.size()), sha256);
    if (check.facts.format != upload::FirmwareFormat::Other)
        LogFile->Log("file check : " + upload::FirmwareFactsText(check.facts, sha256));
    return true;
}
