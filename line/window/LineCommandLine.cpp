#include "line/window/LineCommandLine.h"

#include "Version.h"
#include "line/core/LineSettings.h"

#include <charconv>

namespace line {

namespace {

const char* const Usage = "Usage: orvix-line [--folder DIR] [--stations N] | --help | --version\n";

std::string HelpText()
{
    std::string text = Usage;
    text.append("\nOrvix-500 Production Line ").append(kOrvixVersion).append(R"(: programs
Orvix-500 units at up to 16 stations at once from one window, each station over
its own serial adapter, all with the line's one firmware.

The line keeps its files in its folder (the current one unless --folder says
otherwise): OrvixLine.ini (the stations, their sockets and line speeds, the
firmware), the unit record Orvix500Units.csv and the log Orvix500Line.Log.

      --folder DIR   the line's folder
      --stations N   the number of stations, 1 to 16 (saved in OrvixLine.ini)
  -h, --help         print this help and exit
      --version      print the version and exit

Exit status: 0 when the window has closed, 2 for a bad command line.
See orvix-line(1).
)");
    return text;
}

LineCommandLine Refuse(const std::string& why)
{
    LineCommandLine answer;
    answer.openWindow = false;
    answer.exitStatus = 2;
    answer.err = "orvix-line: " + why + "\n" + Usage;
    return answer;
}

} // namespace

LineCommandLine ParseLineCommandLine(const std::vector<std::string>& args)
{
    LineCommandLine answer;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            answer.openWindow = false;
            answer.out = HelpText();
            return answer;
        }
        if (arg == "--version") {
            answer.openWindow = false;
            answer.out = std::string("orvix-line ") + kOrvixVersion + "\n";
            return answer;
        }
        if (arg != "--folder" && arg != "--stations") {
            const bool option = arg.size() > 1 && arg[0] == '-';
            return Refuse((option ? "unknown option: " : "takes no arguments: ") + arg);
        }
        if (i + 1 >= args.size())
            return Refuse(arg + " needs a value");
        const std::string& value = args[++i];
        if (arg == "--folder") {
            answer.folder = value;
            continue;
        }
        int n = 0;
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
        if (ec != std::errc() || end != value.data() + value.size() || n < MinStations ||
            n > MaxStations)
            return Refuse("--stations wants a number of 1 to 16, not " + value);
        answer.stations = n;
    }
    return answer;
}

} // namespace line
