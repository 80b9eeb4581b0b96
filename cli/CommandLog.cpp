#include "cli/CommandLog.h"

#include "platform/LocalClock.h"
#include "platform/LocaleInfo.h"

#include <cstdio>
#include <ctime>

namespace cli {

CommandLog::CommandLog(std::string path) : path_(std::move(path)), separator_(LocaleTimeSeparator())
{
}

bool CommandLog::Log(const std::string& text)
{
    const LocalTime now = LocalNow();
    const std::time_t local = now.utc.time_since_epoch().count() + now.utcOffsetSeconds;
    std::tm tm{};
    gmtime_r(&local, &tm);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%02d-%02d-%04d %02d%c%02d%c%02d - ", tm.tm_mday,
                  tm.tm_mon + 1, tm.tm_year + 1900, tm.tm_hour, separator_, tm.tm_min, separator_,
                  tm.tm_sec);
    std::string line = stamp;
    for (const char c : text) {
        if (c == '\n')
            line += '\r';
        line += c;
    }
    line += "\r\n";
    // "e": the descriptor stays out of child processes; unbuffered: one write per line.
    std::FILE* file = std::fopen(path_.c_str(), "abe");
    if (!file)
        return false;
    std::setvbuf(file, nullptr, _IONBF, 0);
    const bool written = std::fwrite(line.data(), 1, line.size(), file) == line.size();
    return std::fclose(file) == 0 && written;
}

} // namespace cli
