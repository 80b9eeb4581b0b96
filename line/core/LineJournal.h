// The line's two files in its folder: the unit record Orvix500Units.csv, which every station
// appends to (the uploader's columns, then station and socket; one write per row), and the
// one log Orvix500Line.Log, in the uploader's log format with the station's name in every
// line. One log rather than one per station: the operator reads one file, and the stations'
// lines stand in the order they happened.
#pragma once

#include "components/QuickLogFile.h"
#include "upload/UnitRecord.h"

#include <QObject>
#include <string>

namespace line {

constexpr const char* LineLogFileName = "Orvix500Line.Log";
// The record the uploader keeps too, with two more columns.
constexpr const char* LineRecordFileName = "Orvix500Units.csv";

// The record's header: the uploader's columns, then station and socket, ending in CR LF.
std::string LineCsvHeader();
// One record's line, with the station's name and socket at the end, ending in CR LF.
std::string LineCsvLine(const upload::UnitRecord& record, const std::string& station,
                        const std::string& socket);

class LineJournal
{
public:
    // `folder`: where both files live (the line's folder, beside its settings).
    explicit LineJournal(const std::string& folder);

    // Appends the record's row. Empty on success; "Unable to write to " and the path
    // otherwise (also logged).
    std::string Record(const upload::UnitRecord& record, const std::string& station,
                       const std::string& socket);
    // One line of the log, tagged with `source` (a station's name, or "line"). False when
    // the line did not reach the file.
    bool Log(const std::string& source, const std::string& text);

    const std::string& RecordPath() const { return recordPath_; }
    const std::string& LogPath() const { return log_.LogFileName; }

private:
    QObject owner_;
    TQuickLogFile log_;
    std::string recordPath_;
};

} // namespace line
