// The line program's command line: --help and --version answered without a display, the
// line's folder and its number of stations, anything else refused.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace line {

struct LineCommandLine
{
    bool openWindow = true;
    int exitStatus = 0;
    std::string out;
    std::string err;
    std::string folder = ".";    // --folder DIR
    std::optional<int> stations; // --stations N
};

LineCommandLine ParseLineCommandLine(const std::vector<std::string>& args);

} // namespace line
