#include "app/CommandLine.h"

#include "Version.h"

namespace {

const std::string kUsage = "Usage: orvix-uploader [--help | --version]\n";

std::string HelpText()
{
    return kUsage + "\nTallowmere Orvix-500 Firmware Uploader " + kOrvixVersion +
           R"(: loads firmware into an Orvix-500 unit
over RS-232 under XON/XOFF flow control.

Without arguments it opens its window. It keeps its files in the folder it was
started from: Uploader.ini (the last port, line speed and firmware file, and an
optional [Ports] section that maps COM1 to COM4 to devices such as /dev/ttyUSB0)
and the log Orvix500Upload.Log.

  -h, --help     print this help and exit
      --version  print the version and exit

Exit status: 0 when the window has closed, 2 for any other argument.
See orvix-uploader(1).
)";
}

} // namespace

CommandLineAnswer AnswerCommandLine(const std::vector<std::string>& args)
{
    CommandLineAnswer answer;
    if (args.empty())
        return answer;
    answer.openWindow = false;
    const std::string& first = args.front();
    if (first == "--help" || first == "-h") {
        answer.out = HelpText();
    } else if (first == "--version") {
        answer.out = std::string("orvix-uploader ") + kOrvixVersion + "\n";
    } else {
        answer.exitStatus = 2;
        const bool option = first.size() > 1 && first[0] == '-';
        answer.err =
            "orvix-uploader: " + std::string(option ? "unknown option: " : "takes no arguments: ") +
            first + "\n" + kUsage;
    }
    return answer;
}
