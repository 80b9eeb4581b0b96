// orvix-sim on a pty link of its own, in a directory the caller owns, and its report. The
// benchmark's stations share one process and one working directory, so nothing here
// changes the current directory or writes a configuration file: the caller maps a port to
// Link() itself.
#pragma once

#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <chrono>
#include <optional>

class SimLink
{
public:
    // `name` tells this unit's link and report apart from the others' in `dir`.
    SimLink(const QString& simPath, const QString& dir, const QString& name,
            const QStringList& options);
    // Stops the simulator (SIGTERM, which also removes its link).
    ~SimLink();
    SimLink(const SimLink&) = delete;
    SimLink& operator=(const SimLink&) = delete;

    // Empty when the simulator runs and published its link; what went wrong otherwise.
    const QString& Error() const { return error_; }
    const QString& Link() const { return link_; }

    // The report's last cycle, once one has ended.
    std::optional<QJsonObject> LastCycle() const;
    // Waits, handling events, for a cycle in the report.
    std::optional<QJsonObject> WaitForCycle(std::chrono::milliseconds timeout) const;
    // What the simulator wrote so far (its trace, with --verbose).
    QString Output();

    // Has the simulator write a firmware file of `size` image bytes; the error text on failure,
    // empty otherwise.
    static QString MakeFirmware(const QString& simPath, const QString& path, int size);

private:
    QString link_;
    QString report_;
    QProcess sim_;
    QString error_;
    QByteArray output_;
};
