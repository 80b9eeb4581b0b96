#include "tests/upload_command/CommandRun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <thread>

namespace commandbench {

using namespace std::chrono_literals;

CommandRun::CommandRun(const QStringList& simOptions, bool withSim)
{
    if (!dir_.isValid()) {
        error_ = "no temporary directory";
        return;
    }
    // Other users (the not-permitted case runs as nobody) may enter the folder.
    QFile::setPermissions(dir_.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                           QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                           QFileDevice::ExeOther | QFileDevice::WriteOther |
                                           QFileDevice::ReadGroup | QFileDevice::ExeGroup);
    if (!withSim)
        return;
    sim_.setProcessChannelMode(QProcess::MergedChannels);
    sim_.start(ORVIX_SIM_PATH, QStringList{"--link", Link(), "--verbose"} + simOptions);
    if (!sim_.waitForStarted(10000)) {
        error_ = "the simulator did not start";
        return;
    }
    for (int i = 0; i < 500 && !QFileInfo::exists(Link()); ++i)
        std::this_thread::sleep_for(10ms);
    if (!QFileInfo::exists(Link()))
        error_ = "the simulator published no link: " + QString::fromLocal8Bit(SimTrace());
}

CommandRun::~CommandRun()
{
    if (sim_.state() != QProcess::NotRunning) {
        sim_.terminate();
        if (!sim_.waitForFinished(5000)) {
            sim_.kill();
            sim_.waitForFinished(5000);
        }
    }
}

QString CommandRun::MakeFirmware(const QString& name, int size, const QStringList& extra)
{
    QProcess maker;
    maker.start(ORVIX_SIM_PATH,
                QStringList{"--make-firmware", Path(name), "--size", QString::number(size)} +
                    extra);
    if (!maker.waitForFinished(20000) || maker.exitCode() != 0)
        return {};
    return Path(name);
}

QByteArray CommandRun::SimTrace()
{
    if (sim_.state() != QProcess::NotRunning)
        sim_.waitForReadyRead(0);
    trace_ += sim_.readAll();
    return trace_;
}

Finished CommandRun::Run(const QStringList& args, std::chrono::milliseconds timeout,
                         const std::function<void(QProcess&)>& during, const QString& program,
                         const QStringList& programPrefix)
{
    QProcess command;
    command.setWorkingDirectory(dir_.path());
    command.start(program, programPrefix + args);
    Finished finished;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    if (!command.waitForStarted(10000))
        return finished;
    while (command.state() != QProcess::NotRunning) {
        if (std::chrono::steady_clock::now() > deadline) {
            command.kill();
            command.waitForFinished(5000);
            finished.out = command.readAllStandardOutput();
            finished.err = command.readAllStandardError();
            return finished;
        }
        if (during)
            during(command);
        SimTrace();
        command.waitForFinished(10);
    }
    finished.end = std::chrono::steady_clock::now();
    finished.out = command.readAllStandardOutput();
    finished.err = command.readAllStandardError();
    if (command.exitStatus() == QProcess::NormalExit)
        finished.status = command.exitCode();
    return finished;
}

QList<QByteArray> CommandRun::RecordLines() const
{
    QFile file(Path("Orvix500Units.csv"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    while (!lines.isEmpty() && lines.back().trimmed().isEmpty())
        lines.pop_back();
    for (QByteArray& line : lines)
        line = line.trimmed();
    return lines;
}

QByteArray CommandRun::Log() const
{
    QFile file(Path("Orvix500Upload.Log"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace commandbench
