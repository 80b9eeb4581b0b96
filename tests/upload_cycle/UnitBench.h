// A bench for the whole upload cycle: a simulated unit on a pseudo-terminal in a working
// directory of its own, and the real main window started in that directory and driven by
// its controls. Shared by the end-to-end tests and the upload benchmark.
#pragma once

#include "platform/Exception.h"

#include <QJsonArray>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <functional>
#include <memory>

class TForm1;
class THelpForm;

namespace unitbench {

using namespace std::chrono_literals;

// The status texts the cycles wait for, and the options of a unit that never holds the line.
inline const QString Greeted = "Connection established";
inline const QString CrcOk = "CRC OK!!!  Waiting for Connection...";

// The unit on an unpaced line: it takes every byte as it comes and counts the bytes that
// come later than a generous reaction time after an XOFF of its own; short pauses.
inline const QStringList Unpaced = {"--verbose", "--baud",     "0",   "--xoff-reaction-ms",
                                    "250",       "--pause-ms", "100", "--line-timeout",
                                    "2"};
// A fast flash and a large buffer: the unit never needs to hold the line for these files.
inline const QStringList Quick =
    Unpaced + QStringList{"--program-rate", "400000", "--buffer", "65536", "--xoff-at", "61440"};

// A slow flash and a small XOFF mark: the unit holds the line most of the time.
inline const QStringList SlowFlash =
    Unpaced + QStringList{"--program-rate", "4000", "--buffer", "65536",
                          "--xoff-at",      "768",  "--xon-at", "256"};

// Handles window messages until `done` returns true or the timeout passes; returns the last
// value of `done`. Waits for messages instead of spinning.
bool ProcessUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// The bytes of a file; empty when it cannot be read.
QByteArray ReadBytes(const QString& path);
// `bytes` with its line `index` (0-based, lines ending in LF) replaced by `line` (which keeps
// the original line end), or with `line` put before it when `insert` is true.
QByteArray WithLineAt(const QByteArray& bytes, int index, const QByteArray& line,
                      bool insert = true);

// orvix-sim on a pty link in a fresh temporary directory, with Uploader.ini there mapping
// COM2 to the link. The directory is the current one while the object lives.
class SimulatedUnit
{
public:
    // `simPath`: the simulator program; `options`: its options beyond --link and --report.
    SimulatedUnit(const QString& simPath, const QStringList& options);
    // Stops the simulator and goes back to the previous current directory.
    ~SimulatedUnit();
    SimulatedUnit(const SimulatedUnit&) = delete;
    SimulatedUnit& operator=(const SimulatedUnit&) = delete;

    // Empty when the simulator runs and its link exists; what went wrong otherwise.
    QString Error() const { return error_; }

    QString Dir() const { return dir_.path(); }
    QString Link() const { return dir_.filePath("ttyORVIX"); }
    QString Path(const QString& name) const { return dir_.filePath(name); }

    // Has the simulator write a firmware file of `size` image bytes into the directory and
    // returns its path (empty on failure). `extra`: more options (--bad-crc, ...).
    QString MakeFirmware(const QString& name, int size, const QStringList& extra = {});
    // Writes a file of the given bytes into the directory and returns its path.
    QString WriteFile(const QString& name, const QByteArray& bytes);

    // The cycles of the simulator's report so far (empty before the first one ends).
    QJsonArray Units() const;
    // Waits, handling window messages, until the report holds `count` cycles.
    bool WaitForUnits(int count, std::chrono::milliseconds timeout);
    // What the simulator wrote on standard error so far (its trace with --verbose).
    QString Trace();

private:
    QString simPath_;
    QTemporaryDir dir_;
    QString previousDir_;
    QProcess sim_;
    QString error_;
    QByteArray trace_;
};

// The main window and the help window, created in the current directory as the program's
// entry point creates them, shown and active.
class Uploader
{
public:
    Uploader();
    ~Uploader();
    Uploader(const Uploader&) = delete;
    Uploader& operator=(const Uploader&) = delete;

    TForm1& Form() { return *form_; }
    THelpForm& Help() { return *help_; }

    AnsiString Status() const;
    // Every text the status bar showed since the window was created, oldest first.
    const QStringList& StatusHistory() const { return statusHistory_; }
    QString Terminal() const;
    // The texts of the log file's lines (after their time stamps), oldest first.
    QStringList LogTexts() const;
    // The help window's text.
    QString HelpText() const;

    // Clicks a control with the mouse, as the operator does (the click also gives it the
    // focus). Returns when the click's handler has returned.
    void Click(QWidget* control);
    // Clicks Select File with the file dialog answering `path`; returns when the transfer it
    // started has ended. `duringTransfer`, when given, runs every
    // `watchInterval` while the handler runs (to press Cancel, to watch the indicator).
    void SelectFile(const QString& path, const std::function<void()>& duringTransfer = {},
                    std::chrono::milliseconds watchInterval = 3ms);
    // Waits until the status bar shows `text`.
    bool WaitForStatus(const QString& text, std::chrono::milliseconds timeout = 15s);

private:
    std::unique_ptr<TForm1> form_;
    std::unique_ptr<THelpForm> help_;
    QStringList statusHistory_;
};

} // namespace unitbench
