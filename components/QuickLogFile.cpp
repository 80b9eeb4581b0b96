#include "components/QuickLogFile.h"

#include "platform/LocaleInfo.h"

#include <QDateTime>
#include <cstdio>

namespace {

std::tm SystemLocalTime()
{
    const QDateTime now = QDateTime::currentDateTime();
    const QDate date = now.date();
    const QTime time = now.time();
    std::tm tm{};
    tm.tm_year = date.year() - 1900;
    tm.tm_mon = date.month() - 1;
    tm.tm_mday = date.day();
    tm.tm_hour = time.hour();
    tm.tm_min = time.minute();
    tm.tm_sec = time.second();
    return tm;
}

// "dd-mm-yyyy hh:nn:ss" with the given separator between the parts of the time.
AnsiString FormatTimeStamp(const std::tm& tm, char separator)
{
    char text[64];
    const int length = std::snprintf(text, sizeof text, "%02d-%02d-%04d %02d%c%02d%c%02d",
                                     tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900, tm.tm_hour,
                                     separator, tm.tm_min, separator, tm.tm_sec);
    return AnsiString(text, length > 0 ? std::size_t(length) : 0);
}

// The line as a text-mode file would hold it: a line feed appended, every LF as CR LF.
// Linux has no text mode, so the translation is ours.
AnsiString DiskLine(const AnsiString& line)
{
    AnsiString out;
    out.reserve(line.size() + 8);
    for (const char c : line) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    out += "\r\n";
    return out;
}

} // namespace

TQuickLogFile::TQuickLogFile(QObject* Owner)
    : TComponent(Owner), Clock(SystemLocalTime), TimeSeparator(LocaleTimeSeparator())
{
}

bool TQuickLogFile::Log(const AnsiString& text)
{
    const std::tm now = Clock ? Clock() : SystemLocalTime();
    const AnsiString separator = ID.empty() ? AnsiString(" - ") : " " + ID + ": ";
    const AnsiString line = FormatTimeStamp(now, TimeSeparator) + separator + text;

    if (OnEvent)
        OnEvent(this, line);
    if (!LogToFile)
        return true;
    // A zero byte would cut the name short and open some other file.
    if (LogFileName.empty() || LogFileName.find('\0') != AnsiString::npos)
        return false;

    // "a+" opens for reading and writing with O_APPEND | O_CREAT (mode 0666 less the umask,
    // never truncating); "e" keeps the descriptor out of child processes.
    std::FILE* file = std::fopen(LogFileName.c_str(), "a+be");
    if (!file)
        return false;
    // Unbuffered, so the whole line goes out in one write.
    std::setvbuf(file, nullptr, _IONBF, 0);
    const AnsiString data = DiskLine(line);
    // A short write (a full disk) or a failed close means the line did not reach the file.
    const bool written = std::fwrite(data.data(), 1, data.size(), file) == data.size();
    const bool closed = std::fclose(file) == 0;
    return written && closed;
}
