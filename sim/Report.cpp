#include "sim/Report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QString>

std::string ReportJson(const std::vector<CycleReport>& cycles)
{
    QJsonArray units;
    for (const CycleReport& c : cycles) {
        QJsonObject o;
        o["result"] = QString::fromStdString(c.result);
        if (!c.reason.empty())
            o["reason"] = QString::fromStdString(c.reason);
        o["lines"] = static_cast<qint64>(c.lines);
        o["bytes"] = static_cast<qint64>(c.bytes);
        o["records"] = static_cast<qint64>(c.records);
        o["max_fill"] = static_cast<qint64>(c.maxFill);
        o["xoff_sent"] = static_cast<qint64>(c.xoffSent);
        o["overrun_bytes"] = static_cast<qint64>(c.overrunBytes);
        o["bytes_after_xoff"] = c.bytesAfterXoff
                                    ? QJsonValue(static_cast<qint64>(*c.bytesAfterXoff))
                                    : QJsonValue(QJsonValue::Null);
        o["duration_s"] = c.durationS;
        o["download_s"] = c.downloadS;
        units.append(o);
    }
    QJsonObject root;
    root["units"] = units;
    return QJsonDocument(root).toJson(QJsonDocument::Indented).toStdString();
}

bool WriteReport(const std::string& path, const std::vector<CycleReport>& cycles,
                 std::string& error)
{
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly)) {
        error = path + ": " + file.errorString().toStdString();
        return false;
    }
    const std::string text = ReportJson(cycles);
    file.write(text.data(), static_cast<qint64>(text.size()));
    if (!file.commit()) {
        error = path + ": " + file.errorString().toStdString();
        return false;
    }
    return true;
}
