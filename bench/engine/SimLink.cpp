#include "bench/engine/SimLink.h"

#include "bench/engine/EventWait.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

using namespace std::chrono_literals;

SimLink::SimLink(const QString& simPath, const QString& dir, const QString& name,
                 const QStringList& options)
    : link_(QDir(dir).filePath("tty" + name)), report_(QDir(dir).filePath(name + ".json"))
{
    sim_.setProcessChannelMode(QProcess::MergedChannels);
    // Drained as it comes, so a verbose simulator never blocks on a full pipe.
    QObject::connect(&sim_, &QProcess::readyRead, [this] { output_ += sim_.readAll(); });
    sim_.start(simPath, QStringList{"--link", link_, "--report", report_} + options);
    if (!sim_.waitForStarted(10000)) {
        error_ = "the simulator did not start: " + sim_.errorString();
        return;
    }
    const bool linked = RunUntil(
        [this] { return QFileInfo::exists(link_) || sim_.state() == QProcess::NotRunning; }, 10s);
    if (!linked || !QFileInfo::exists(link_))
        error_ = "the simulator published no link: " + Output();
}

SimLink::~SimLink()
{
    if (sim_.state() == QProcess::NotRunning)
        return;
    sim_.terminate();
    if (!sim_.waitForFinished(5000)) {
        sim_.kill();
        sim_.waitForFinished(5000);
    }
}

std::optional<QJsonObject> SimLink::LastCycle() const
{
    QFile file(report_);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonArray units =
        QJsonDocument::fromJson(file.readAll()).object().value("units").toArray();
    if (units.isEmpty())
        return std::nullopt;
    return units.last().toObject();
}

std::optional<QJsonObject> SimLink::WaitForCycle(std::chrono::milliseconds timeout) const
{
    RunUntil([this] { return LastCycle().has_value(); }, timeout, 50ms);
    return LastCycle();
}

QString SimLink::Output()
{
    output_ += sim_.readAll();
    return QString::fromLocal8Bit(output_);
}

QString SimLink::MakeFirmware(const QString& simPath, const QString& path, int size)
{
    QProcess maker;
    maker.setProcessChannelMode(QProcess::MergedChannels);
    maker.start(simPath, {"--make-firmware", path, "--size", QString::number(size)});
    if (!maker.waitForFinished(20000) || maker.exitStatus() != QProcess::NormalExit ||
        maker.exitCode() != 0 || !QFileInfo::exists(path))
        return "no firmware made: " + QString::fromLocal8Bit(maker.readAll());
    return {};
}
