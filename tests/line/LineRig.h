// A production line under test: a temporary line folder with a firmware file and
// OrvixLine.ini, one orvix-sim per station on a pty link of its own in that folder, and the
// real line (Line) with its real window on Qt's offscreen platform.
#pragma once

#include "bench/engine/SimLink.h"
#include "line/core/Line.h"
#include "line/window/LineWindow.h"

#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace linerig {

using namespace std::chrono_literals;

// A unit quick to program on a line paced like a real one: the flash keeps up with the line,
// short pauses before its results and before it greets again.
inline const QStringList QuickUnit = {"--baud",     "115200", "--program-rate", "1000000",
                                      "--pause-ms", "100",    "--greet-after",  "0.5"};

// Handles window messages until `done` returns true or the timeout passes.
bool ProcessUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// The rows of a CSV file without its header, each split into its fields (no quoted commas in
// what the tests write).
std::vector<QStringList> CsvRows(const QString& path);

class LineRig
{
public:
    // `units`: the options of each station's simulator (one station per entry), beyond
    // --link and --report; `imageBytes`: the firmware's image size. With `bindLinks` each
    // station is bound to its unit's link; without, the stations have no socket yet.
    LineRig(const std::vector<QStringList>& units, int imageBytes, bool bindLinks = true);
    ~LineRig();
    LineRig(const LineRig&) = delete;
    LineRig& operator=(const LineRig&) = delete;

    // Empty when every simulator runs and the line was made; what went wrong otherwise.
    QString Error() const { return error_; }
    QString Path(const QString& name) const { return dir_.filePath(name); }
    QString Link(int station) const { return dir_.filePath(QString("tty%1").arg(station + 1)); }
    QString Firmware() const { return Path("firmware.out"); }
    SimLink& Unit(int station) { return *units_[std::size_t(station)]; }
    // Ends a station's simulator: its line goes as a pulled adapter's does.
    void StopUnit(int station) { units_[std::size_t(station)].reset(); }

    // Creates the line over the folder (its settings already written) and its window.
    void Open();
    line::Line& Line() { return *line_; }
    line::LineWindow& Window() { return *window_; }
    std::vector<QStringList> Records() const { return CsvRows(Path("Orvix500Units.csv")); }
    // The number of rows station `name` has in the record.
    int RecordsOf(const QString& name) const;

private:
    QTemporaryDir dir_;
    std::vector<std::unique_ptr<SimLink>> units_;
    std::unique_ptr<line::Line> line_;
    std::unique_ptr<line::LineWindow> window_;
    QString error_;
};

} // namespace linerig
