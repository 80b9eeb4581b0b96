#include "tests/line/LineRig.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>

namespace linerig {

bool ProcessUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end)
            return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

std::vector<QStringList> CsvRows(const QString& path)
{
    QFile file(path);
    std::vector<QStringList> rows;
    if (!file.open(QIODevice::ReadOnly))
        return rows;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i)
        if (!lines[i].trimmed().isEmpty())
            rows.push_back(QString::fromUtf8(lines[i].trimmed()).split(','));
    return rows;
}

LineRig::LineRig(const std::vector<QStringList>& units, int imageBytes, bool bindLinks)
{
    if (!dir_.isValid()) {
        error_ = "no temporary folder";
        return;
    }
    error_ = SimLink::MakeFirmware(ORVIX_SIM_PATH, Firmware(), imageBytes);
    if (!error_.isEmpty())
        return;
    QFile ini(Path("OrvixLine.ini"));
    if (!ini.open(QIODevice::WriteOnly)) {
        error_ = "OrvixLine.ini not written";
        return;
    }
    QByteArray text = "[Line]\nStations=" + QByteArray::number(qsizetype(units.size())) +
                      "\nFirmware=" + Firmware().toUtf8() + "\n";
    for (std::size_t i = 0; i < units.size(); ++i) {
        const int station = int(i);
        units_.push_back(std::make_unique<SimLink>(ORVIX_SIM_PATH, dir_.path(),
                                                   QString("%1").arg(station + 1), units[i]));
        if (!units_.back()->Error().isEmpty()) {
            error_ = units_.back()->Error();
            return;
        }
        if (bindLinks)
            text += "[Station" + QByteArray::number(station + 1) +
                    "]\nSocket=" + Link(station).toUtf8() + "\n";
    }
    ini.write(text);
}

LineRig::~LineRig()
{
    window_.reset();
    line_.reset();
    units_.clear();
}

void LineRig::Open()
{
    line_ = std::make_unique<line::Line>(dir_.path().toStdString());
    window_ = std::make_unique<line::LineWindow>(*line_);
    window_->show();
}

int LineRig::RecordsOf(const QString& name) const
{
    int count = 0;
    for (const QStringList& row : Records())
        count += row.size() >= 2 && row[row.size() - 2] == name;
    return count;
}

} // namespace linerig
