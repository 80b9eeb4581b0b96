// The uploader's command line: the window takes no arguments; --help and --version are
// answered on standard output without opening a display, anything else is refused.
#pragma once

#include <string>
#include <vector>

struct CommandLineAnswer
{
    bool openWindow = true; // no arguments: start the window
    int exitStatus = 0;     // otherwise: end with this status
    std::string out;        // ... after writing this to standard output
    std::string err;        // ... and this to standard error
};

// Answers the arguments (without the program name). The first argument decides: --help (or -h)
// and --version end with status 0; anything else ends with status 2 and the usage on standard
// error.
CommandLineAnswer AnswerCommandLine(const std::vector<std::string>& args);
