// The command's log: the uploader's log lines in the same file format, so a line's log reads
// the same whichever program wrote it: "dd-mm-yyyy hh:nn:ss - text" (the locale's time
// separator), CR LF, every LF inside the text as CR LF, each line appended with one write.
#pragma once

#include <string>

namespace cli {

class CommandLog
{
public:
    explicit CommandLog(std::string path);
    // Appends the line; false when it did not reach the file.
    bool Log(const std::string& text);
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    char separator_;
};

} // namespace cli
