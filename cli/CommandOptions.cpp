#include "cli/CommandOptions.h"

#include "Version.h"
#include "upload/UnitRecorder.h"

#include <charconv>

namespace cli {

namespace {

bool ToNumber(const std::string& text, std::uint64_t& value)
{
    if (text.empty())
        return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

} // namespace

std::string CommandUsage()
{
    return "Usage: orvix-upload (--port COMn | --device PATH) --file FILE [options]\n";
}

std::string CommandVersion()
{
    return std::string("orvix-upload ") + kOrvixVersion + "\n";
}

std::string CommandHelp()
{
    std::string text = CommandUsage();
    text += "\nTallowmere Orvix-500 Firmware Uploader ";
    text += kOrvixVersion;
    text += R"(, without a window: programs Orvix-500 units over
RS-232 under XON/XOFF flow control, for test racks and scripts.

  --port COMn            the port, mapped to a device by [Ports] of the ini file
  --device PATH          the device itself (not with --port)
  --baud N               line speed in bit/s (default 115200)
  --file FILE            the firmware file, read and checked once
  --units N              units to program, one after another (default 1; 0: until stopped)
  --greet-timeout S      seconds to wait for a unit's greeting (default 30; 0: no limit)
  --result-timeout S     seconds a unit may stay silent after the transfer
  --log FILE             the log (default Orvix500Upload.Log)
  --record FILE          the unit record (default Orvix500Units.csv)
  --ini FILE             the port map (default Uploader.ini, when there is one)
  --json                 one JSON object per line on standard output for every event
  -h, --help             print this help and exit
      --version          print the version and exit

Exit status: 0 every unit CRC OK, 2 bad arguments, 3 file unusable, 4 port unavailable,
5 no greeting, 6 download failed, 7 programming failed, 8 CRC bad, 9 line vanished,
10 no result, 11 cancelled. See orvix-upload(1).
)";
    return text;
}

ParsedCommand ParseCommand(const std::vector<std::string>& args)
{
    ParsedCommand parsed;
    CommandOptions& o = parsed.options;
    auto refuse = [&parsed](std::string text) {
        parsed.action = ParsedCommand::Action::Refuse;
        parsed.error = std::move(text);
        return parsed;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (name == "--help" || name == "-h") {
            parsed.action = ParsedCommand::Action::Help;
            return parsed;
        }
        if (name == "--version") {
            parsed.action = ParsedCommand::Action::Version;
            return parsed;
        }
        if (name == "--json") {
            o.json = true;
            continue;
        }
        if (name.rfind("--", 0) != 0)
            return refuse("unexpected argument: " + name);
        if (i + 1 >= args.size())
            return refuse(name + " needs a value");
        const std::string& value = args[++i];
        std::uint64_t n = 0;
        if (name == "--port") {
            o.port = value;
        } else if (name == "--device") {
            o.device = value;
        } else if (name == "--file") {
            o.file = value;
        } else if (name == "--log") {
            o.log = value;
        } else if (name == "--record") {
            o.record = value;
        } else if (name == "--ini") {
            o.ini = value;
        } else if (name == "--baud") {
            if (!ToNumber(value, n) || n == 0 || n > 0xFFFFFFFFu)
                return refuse("--baud: not a line speed: " + value);
            o.baud = std::uint32_t(n);
        } else if (name == "--units") {
            if (!ToNumber(value, n))
                return refuse("--units: not a count: " + value);
            o.units = n;
        } else if (name == "--greet-timeout" || name == "--result-timeout") {
            if (!ToNumber(value, n) || n > 1000000)
                return refuse(name + ": not a number of seconds: " + value);
            if (name == "--greet-timeout")
                o.greetTimeout = std::chrono::seconds(n);
            else if (n == 0)
                return refuse("--result-timeout must be above 0");
            else
                o.resultTimeout = std::chrono::seconds(n);
        } else {
            return refuse("unknown option: " + name);
        }
    }
    if (!o.port.empty() && !o.device.empty())
        return refuse("--port and --device name the line twice: give one of them");
    if (o.port.empty() && o.device.empty())
        return refuse("no line: give --port COMn or --device PATH");
    if (o.file.empty())
        return refuse("no firmware file: give --file FILE");
    if (o.log.empty())
        o.log = DefaultLogName;
    if (o.record.empty())
        o.record = upload::UnitRecordFileName;
    return parsed;
}

} // namespace cli
