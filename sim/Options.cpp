#include "sim/Options.h"

#include "Version.h"

#include <charconv>

namespace {

bool ToUnsigned(const std::string& text, std::uint64_t& value)
{
    const char* end = text.data() + text.size();
    int base = 10;
    const char* from = text.data();
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        from += 2;
    }
    const auto [ptr, ec] = std::from_chars(from, end, value, base);
    return ec == std::errc() && ptr == end && from != end;
}

bool ToDouble(const std::string& text, double& value)
{
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty() && value >= 0;
}

} // namespace

std::optional<SimOptions> ParseSimOptions(const std::vector<std::string>& args, std::string& error)
{
    SimOptions o;
    bool sizeGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                error = name + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        auto number = [&](std::uint64_t& out, std::uint64_t min, std::uint64_t max) {
            std::string text;
            if (!value(text))
                return false;
            if (!ToUnsigned(text, out) || out < min || out > max) {
                error = name + ": not a valid number: " + text;
                return false;
            }
            return true;
        };
        auto real = [&](double& out) {
            std::string text;
            if (!value(text))
                return false;
            if (!ToDouble(text, out)) {
                error = name + ": not a valid number: " + text;
                return false;
            }
            return true;
        };
        std::uint64_t n = 0;
        if (name == "--help" || name == "-h") {
            o.help = true;
        } else if (name == "--version") {
            o.version = true;
        } else if (name == "--link") {
            if (!value(o.link))
                return std::nullopt;
        } else if (name == "--device") {
            if (!value(o.device))
                return std::nullopt;
        } else if (name == "--baud") {
            if (!number(n, 0, 10000000))
                return std::nullopt;
            o.baud = static_cast<unsigned>(n);
        } else if (name == "--units") {
            if (!number(n, 1, 1000000000))
                return std::nullopt;
            o.units = static_cast<unsigned>(n);
        } else if (name == "--report") {
            if (!value(o.report))
                return std::nullopt;
        } else if (name == "--buffer") {
            if (!number(n, 1, 1u << 30))
                return std::nullopt;
            o.buffer = n;
        } else if (name == "--xoff-at") {
            if (!number(n, 1, 1u << 30))
                return std::nullopt;
            o.xoffAt = n;
        } else if (name == "--xon-at") {
            if (!number(n, 0, 1u << 30))
                return std::nullopt;
            o.xonAt = n;
            o.xonAtGiven = true;
        } else if (name == "--program-rate") {
            if (!real(o.programRate))
                return std::nullopt;
            if (o.programRate <= 0) {
                error = "--program-rate must be above 0";
                return std::nullopt;
            }
        } else if (name == "--flash-size") {
            if (!number(n, 1, 1ull << 32))
                return std::nullopt;
            o.flashSize = n;
        } else if (name == "--xoff-reaction-ms") {
            if (!number(n, 0, 60000))
                return std::nullopt;
            o.xoffReactionMs = static_cast<unsigned>(n);
        } else if (name == "--greet-after") {
            if (!real(o.greetAfterS))
                return std::nullopt;
        } else if (name == "--pause-ms") {
            if (!number(n, 0, 60000))
                return std::nullopt;
            o.pauseMs = static_cast<unsigned>(n);
        } else if (name == "--line-timeout") {
            if (!real(o.lineTimeoutS))
                return std::nullopt;
        } else if (name == "--verbose" || name == "-v") {
            o.verbose = true;
        } else if (name == "--seed") {
            if (!number(n, 0, 0xFFFFFFFFu))
                return std::nullopt;
            o.seed = static_cast<std::uint32_t>(n);
            o.firmware.seed = o.seed;
        } else if (name == "--fault") {
            std::string fault;
            if (!value(fault))
                return std::nullopt;
            const std::string unplug = "unplug-after=";
            if (fault == "bad-crc")
                o.badCrc = true;
            else if (fault == "program-fail")
                o.programFail = true;
            else if (fault == "lowercase-greeting")
                o.lowercaseGreeting = true;
            else if (fault == "split-greeting")
                o.splitGreeting = true;
            else if (fault == "split-results")
                o.splitResults = true;
            else if (fault == "dotted-results")
                o.dottedResults = true;
            else if (fault == "never-xon")
                o.neverXon = true;
            else if (fault == "noise")
                o.noise = true;
            else if (fault.rfind(unplug, 0) == 0 && ToUnsigned(fault.substr(unplug.size()), n) &&
                     n > 0)
                o.unplugAfter = n;
            else {
                error = "--fault: unknown fault: " + fault;
                return std::nullopt;
            }
        } else if (name == "--fault-unit") {
            if (!number(n, 1, 1000000000))
                return std::nullopt;
            o.faultUnit = static_cast<unsigned>(n);
        } else if (name == "--make-firmware") {
            if (!value(o.makeFirmware))
                return std::nullopt;
        } else if (name == "--size") {
            if (!number(n, 1, 1ull << 28))
                return std::nullopt;
            o.firmware.size = n;
            sizeGiven = true;
        } else if (name == "--address") {
            if (!number(n, 0, 0xFFFFFFFFu))
                return std::nullopt;
            o.firmware.address = static_cast<std::uint32_t>(n);
        } else if (name == "--format") {
            std::string format;
            if (!value(format))
                return std::nullopt;
            if (format == "srec")
                o.firmware.format = FirmwareRecipe::Format::Srec;
            else if (format == "ihex")
                o.firmware.format = FirmwareRecipe::Format::IntelHex;
            else {
                error = "--format: expected srec or ihex, not " + format;
                return std::nullopt;
            }
        } else if (name == "--bad-crc") {
            o.firmware.badCrc = true;
        } else if (name == "--bad-record-checksum") {
            o.firmware.badRecordChecksum = true;
        } else {
            error = "unknown option: " + name;
            return std::nullopt;
        }
    }
    if (o.help || o.version)
        return o;
    if (!o.makeFirmware.empty()) {
        if (!sizeGiven) {
            error = "--make-firmware needs --size";
            return std::nullopt;
        }
        if (static_cast<std::uint64_t>(o.firmware.address) + o.firmware.size + 4 > 0x100000000ull) {
            error = "--size: the image would run past the 4 GiB address range";
            return std::nullopt;
        }
        return o;
    }
    if (o.link.empty() == o.device.empty()) {
        error = "give exactly one of --link PATH and --device PATH";
        return std::nullopt;
    }
    if (o.xoffAt == 0)
        o.xoffAt = o.buffer * 3 / 4;
    if (!o.xonAtGiven)
        o.xonAt = o.buffer / 4;
    if (o.xoffAt > o.buffer || o.xonAt >= o.xoffAt) {
        error = "need --xon-at < --xoff-at <= --buffer";
        return std::nullopt;
    }
    return o;
}

std::string SimVersion()
{
    return std::string("orvix-sim ") + kOrvixVersion + "\n";
}

std::string SimUsage()
{
    return R"(Usage:
  orvix-sim (--link PATH | --device PATH) [options]
  orvix-sim --make-firmware OUT --size N [--format srec|ihex] [--bad-crc] [--seed S]
  orvix-sim --help | --version

orvix-sim )" +
           std::string(kOrvixVersion) +
           R"(: plays an Orvix-500 unit in upload mode on a serial line.

Line:
  --link PATH            create a pseudo-terminal and publish its slave as the link PATH
  --device PATH          use an existing serial device (null-modem cable)
  --baud N               emulated line speed, bytes taken at N/10 per second (default 115200;
                         0: no pacing)
Unit:
  --units N              exit with status 0 after N upload cycles (default: run until stopped)
  --report PATH          JSON report, rewritten after every cycle
  --buffer N             receive buffer in bytes (default 1024)
  --xoff-at N            send XOFF at this fill (default 75 % of the buffer)
  --xon-at N             send XON at this fill (default 25 % of the buffer)
  --program-rate N       bytes per second the flash takes (default 4000)
  --flash-size N         flash size in bytes (default 1048576)
  --xoff-reaction-ms N   with --baud 0: bytes later than this after XOFF are counted (default 20)
  --greet-after S        greet on its own S seconds after a result (default 2; 0: never)
  --pause-ms N           pause before each result message (default 400)
  --line-timeout S       a download with no line this long fails (default 10)
  --seed S               seed of the noise and of generated files (default 1)
  --fault NAME           repeatable: bad-crc, program-fail, lowercase-greeting, split-greeting,
                         split-results, dotted-results, never-xon, unplug-after=N, noise
  --fault-unit N         bad-crc, program-fail and never-xon hit only the Nth unit
  --verbose              time-stamped trace on standard error
Firmware files:
  --make-firmware OUT    write a firmware file with the CRC-32 trailer and exit
  --size N               image bytes before the 4-byte trailer
  --address A            load address (default 0)
  --format srec|ihex     record format (default srec)
  --bad-crc              store a wrong CRC trailer
  --bad-record-checksum  spoil the checksum of one record in the middle
Exit status: 0 after --units cycles or on SIGINT/SIGTERM, 1 when the line or a file fails,
2 for a bad command line. See orvix-sim(1).
)";
}
