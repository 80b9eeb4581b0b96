// A bench for orvix-upload: a temporary folder with a simulated unit on a pty link, and the
// command run there as a separate program, its status, output and timing kept.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <functional>

namespace commandbench {

struct Finished
{
    int status = -1; // the exit status; -1 when it did not end by itself
    QByteArray out;
    QByteArray err;
    std::chrono::steady_clock::time_point end{};
};

class CommandRun
{
public:
    // Starts orvix-sim with `simOptions` on the link (none when `withSim` is false).
    explicit CommandRun(const QStringList& simOptions, bool withSim = true);
    ~CommandRun();
    CommandRun(const CommandRun&) = delete;
    CommandRun& operator=(const CommandRun&) = delete;

    QString Error() const { return error_; }
    QString Path(const QString& name) const { return dir_.filePath(name); }
    QString Link() const { return Path("ttyORVIX"); }
    QString MakeFirmware(const QString& name, int size, const QStringList& extra = {});

    // Runs orvix-upload in the folder with `args`; `during` is called every 10 ms with the
    // running process (to signal it) until it ends or `timeout` passes (then it is killed).
    Finished Run(const QStringList& args, std::chrono::milliseconds timeout,
                 const std::function<void(QProcess&)>& during = {},
                 const QString& program = ORVIX_UPLOAD_PATH, const QStringList& programPrefix = {});
    // The simulator's trace so far (it runs with --verbose).
    QByteArray SimTrace();
    // The lines of the unit record, header first.
    QList<QByteArray> RecordLines() const;
    QByteArray Log() const;

private:
    QTemporaryDir dir_;
    QProcess sim_;
    QByteArray trace_;
    QString error_;
};

} // namespace commandbench
