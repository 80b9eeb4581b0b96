#include "line/core/LineJournal.h"

#include "upload/UnitRecorder.h"

#include <filesystem>

namespace line {

namespace {

// The uploader's line without its CR LF.
std::string WithoutLineEnd(std::string line)
{
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    return line;
}

} // namespace

std::string LineCsvHeader()
{
    return WithoutLineEnd(upload::CsvHeader()) + ",station,socket\r\n";
}

std::string LineCsvLine(const upload::UnitRecord& record, const std::string& station,
                        const std::string& socket)
{
    std::string line = WithoutLineEnd(upload::CsvLine(record));
    line.append(",").append(upload::CsvField(station));
    line.append(",").append(upload::CsvField(socket));
    return line.append("\r\n");
}

LineJournal::LineJournal(const std::string& folder)
    : log_(&owner_), recordPath_((std::filesystem::path(folder) / LineRecordFileName).string())
{
    log_.LogToFile = true;
    log_.LogFileName = (std::filesystem::path(folder) / LineLogFileName).string();
}

std::string LineJournal::Record(const upload::UnitRecord& record, const std::string& station,
                                const std::string& socket)
{
    const std::string error =
        upload::AppendCsvLine(recordPath_, LineCsvLine(record, station, socket), LineCsvHeader());
    if (error.empty())
        return {};
    std::string text = "Unable to write to ";
    text.append(recordPath_);
    Log(station, "status : " + text + ": " + error);
    return text;
}

bool LineJournal::Log(const std::string& source, const std::string& text)
{
    log_.ID = source;
    return log_.Log(text);
}

} // namespace line
