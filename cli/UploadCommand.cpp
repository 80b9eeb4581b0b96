#include "cli/UploadCommand.h"

#include "cli/CommandHost.h"
#include "cli/CommandLog.h"
#include "cli/CommandOutput.h"
#include "cli/LineLink.h"
#include "cli/LoopInbox.h"
#include "platform/PortNames.h"
#include "platform/ProfileFile.h"
#include "platform/Sha256.h"
#include "upload/FirmwareCheck.h"
#include "upload/UnitRecorder.h"
#include "upload/UploadEngine.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The engine's clock ticks once a second, as the window's; the bar is drawn four times as
// often, and the JSON progress event comes once a second.
constexpr auto ClockInterval = 1s;
constexpr auto BarInterval = 250ms;
constexpr auto ProgressEventInterval = 1s;

// "COM" + n with n >= 1, else 0 (the ini file's keys of the port map).
unsigned PortNumberOf(const std::string& key)
{
    if (key.size() < 4 || (key.compare(0, 3, "COM") != 0 && key.compare(0, 3, "com") != 0))
        return 0;
    unsigned long long n = 0;
    for (std::size_t i = 3; i < key.size(); ++i) {
        if (key[i] < '0' || key[i] > '9' || n > 0xFFFFFFFFull)
            return 0;
        n = n * 10 + unsigned(key[i] - '0');
    }
    return n > 0 && n <= 0xFFFFFFFFull ? unsigned(n) : 0;
}

std::string Absolute(const std::string& path)
{
    std::error_code ignored;
    return std::filesystem::absolute(path, ignored).string();
}

// The firmware file read once: the bytes checked are the bytes sent.
upload::FirmwareFile ReadFirmware(const std::string& path)
{
    upload::FirmwareFile file;
    file.path = path;
    file.absolutePath = Absolute(path);
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        file.error = std::strerror(errno);
        return file;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad() || std::filesystem::is_directory(path)) {
        file.error = std::filesystem::is_directory(path) ? "Is a directory" : std::strerror(errno);
        return file;
    }
    file.opened = true;
    file.bytes = std::move(bytes).str();
    return file;
}

std::string_view FormatName(upload::FirmwareFormat format)
{
    switch (format) {
    case upload::FirmwareFormat::SRecord:
        return "srec";
    case upload::FirmwareFormat::IntelHex:
        return "ihex";
    case upload::FirmwareFormat::Other:
        break;
    }
    return "other";
}

// The port map of the ini file, as the window reads it; false when a chosen file is missing.
bool LoadPortMap(const CommandOptions& options, CommandLog& log, CommandOutput& output)
{
    const std::string path = options.ini.empty() ? DefaultIniName : options.ini;
    if (!std::filesystem::exists(path)) {
        if (options.ini.empty())
            return true;
        output.Error("--ini: no such file: " + path);
        return false;
    }
    log.Log("initialization : ini file : " + Absolute(path));
    std::map<unsigned, std::string> map;
    std::string entries;
    for (const auto& [key, value] : TIniFile(path).ReadSection("Ports")) {
        entries += (entries.empty() ? "" : ", ") + key + "=" + value;
        if (const unsigned n = PortNumberOf(key); n != 0 && !value.empty() && !map.count(n))
            map[n] = value;
    }
    SetPortMap(map);
    if (!entries.empty())
        log.Log("initialization : port map : " + entries);
    return true;
}

// The engine driven by the loop: its events in, the command's decisions after each round.
class Run
{
public:
    Run(const CommandOptions& options, LoopInbox& inbox, LineLink& link, CommandHost& host,
        CommandOutput& output, upload::FirmwareFile file)
        : options_(options), inbox_(inbox), link_(link), host_(host), output_(output),
          file_(std::move(file)), engine_(host)
    {
    }

    ExitStatus Go();

private:
    void Deliver(const LoopEvents& events);
    void AfterRound(Clock::time_point now);
    void ShowProgress(Clock::time_point now, bool final);
    Clock::time_point NextDeadline() const;

    const CommandOptions& options_;
    LoopInbox& inbox_;
    LineLink& link_;
    CommandHost& host_;
    CommandOutput& output_;
    upload::FirmwareFile file_;
    upload::UploadEngine engine_;

    std::optional<ExitStatus> stop_;
    Clock::time_point nextClock_;
    std::optional<Clock::time_point> greetDue_;
    bool greeted_ = false;
    bool transferring_ = false;
    Clock::time_point transferStart_{};
    std::uint64_t sent_ = 0;
    Clock::time_point nextBar_{};
    Clock::time_point nextProgressEvent_{};
    bool held_ = false;
    Clock::time_point heldSince_{};
    std::size_t unitsSeen_ = 0;
};

Clock::time_point Run::NextDeadline() const
{
    Clock::time_point due = nextClock_;
    if (const auto wake = host_.WakeUpDue())
        due = std::min(due, *wake);
    if (greetDue_)
        due = std::min(due, *greetDue_);
    if (transferring_)
        due = std::min(due, nextBar_);
    return due;
}

ExitStatus Run::Go()
{
    const Clock::time_point start = Clock::now();
    nextClock_ = start + ClockInterval;
    if (options_.greetTimeout.count() > 0)
        greetDue_ = start + options_.greetTimeout;
    engine_.Started();
    engine_.Connect({});
    while (!stop_) {
        const LoopEvents events = inbox_.Wait(NextDeadline());
        if (events.signal) {
            // As the window's Cancel and then its closing: the transfer is cancelled, "Upload
            // Canceled" logged and the record written; a cycle still open is recorded.
            output_.Error(std::string("stopped by ") + (events.signal == 2 ? "SIGINT" : "SIGTERM"));
            if (engine_.Transferring())
                engine_.Cancel();
            stop_ = ExitStatus::Cancelled;
            break;
        }
        Deliver(events);
        const Clock::time_point now = Clock::now();
        if (const auto wake = host_.WakeUpDue(); wake && now >= *wake) {
            host_.WakeUpTicked();
            engine_.WakeUpTick();
        }
        if (now >= nextClock_) {
            nextClock_ = std::max(nextClock_ + ClockInterval, now);
            engine_.ClockTick();
        }
        AfterRound(now);
    }
    engine_.Close();
    output_.EndProgress();
    // The first failure's status; else the reason the run ended.
    for (const upload::UnitOutcome outcome : host_.Outcomes())
        if (StatusOfOutcome(outcome) != ExitStatus::Ok)
            return StatusOfOutcome(outcome);
    return *stop_;
}

void Run::Deliver(const LoopEvents& events)
{
    for (const std::string& packet : events.packets)
        engine_.Packet(packet);
    if (events.sendChanged) {
        // The events of the report first, then the report to the engine.
        const SendReport report = link_.TakeReport();
        if (report.lineErrors)
            output_.Event(JsonLine("line-errors").Add("flags", std::uint64_t(report.lineErrors)));
        if (report.held != held_) {
            held_ = report.held;
            const Clock::time_point now = Clock::now();
            if (held_) {
                heldSince_ = now;
                output_.Event(JsonLine("hold-begin"));
            } else {
                const auto ms =
                    std::chrono::duration_cast<std::chrono::milliseconds>(now - heldSince_);
                output_.Event(JsonLine("hold-end").Add("ms", std::int64_t(ms.count())));
            }
        }
        if (transferring_)
            sent_ += report.taken;
        if (!report.failure.empty())
            output_.Event(JsonLine("line-failed").Add("text", report.failure));
        engine_.PortReport(report);
    }
    if (events.readFailure) {
        output_.Event(JsonLine("line-failed").Add("text", *events.readFailure));
        engine_.LineFailed(*events.readFailure);
    }
}

void Run::AfterRound(Clock::time_point now)
{
    const std::size_t done = host_.Outcomes().size();
    const bool connected = engine_.DialogueState() == upload::Connected;
    if (connected && !greeted_ && !engine_.Transferring()) {
        greeted_ = true;
        greetDue_.reset();
        output_.Event(JsonLine("greeting").Add("unit", std::uint64_t(done + 1)));
        engine_.Transfer(file_);
        if (engine_.Transferring()) {
            transferring_ = true;
            transferStart_ = now;
            sent_ = 0;
            nextBar_ = now;
            nextProgressEvent_ = now + ProgressEventInterval;
            output_.Event(JsonLine("transfer-start")
                              .Add("unit", std::uint64_t(done + 1))
                              .Add("bytes", std::uint64_t(file_.bytes.size())));
        }
    }
    if (transferring_ && !engine_.Transferring()) {
        transferring_ = false;
        ShowProgress(now, true);
        output_.EndProgress();
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - transferStart_);
        output_.Event(JsonLine("transfer-end")
                          .Add("unit", std::uint64_t(done + (greeted_ ? 1 : 0)))
                          .Add("sent", sent_)
                          .Add("ms", std::int64_t(ms.count())));
    } else if (transferring_ && now >= nextBar_) {
        ShowProgress(now, false);
    }
    // A unit's verdict ends its cycle: the next unit (or the same, programmed again) greets.
    if (greeted_ && !engine_.Transferring() && engine_.DialogueState() == upload::WaitingForUnit &&
        done > 0 && host_.Outcomes().size() == done) {
        if (done != unitsSeen_) {
            unitsSeen_ = done;
            greeted_ = false;
            if (options_.units != 0 && done >= options_.units) {
                stop_ = ExitStatus::Ok;
                return;
            }
            if (options_.greetTimeout.count() > 0)
                greetDue_ = now + options_.greetTimeout;
        }
    }
    if (engine_.Failed()) {
        stop_ = ExitStatus::LineVanished;
        return;
    }
    if (greetDue_ && now >= *greetDue_ && !engine_.Transferring()) {
        std::string text = "no unit greeted within ";
        text += std::to_string(options_.greetTimeout.count());
        text += " s: is the unit in its upload mode, and the cable on this port?";
        output_.Error(text);
        stop_ = ExitStatus::NoGreeting;
    }
}

void Run::ShowProgress(Clock::time_point now, bool final)
{
    nextBar_ = now + BarInterval;
    const double seconds = std::chrono::duration<double>(now - transferStart_).count();
    const double rate = seconds > 0 ? double(sent_) / seconds : 0.0;
    const std::uint64_t total = file_.bytes.size();
    const double fraction = final ? 1.0 : host_.Fraction();
    const double left = rate > 0 ? double(total) * (1.0 - fraction) / rate : -1.0;
    if (output_.Json()) {
        if (!final && now < nextProgressEvent_)
            return;
        nextProgressEvent_ = now + ProgressEventInterval;
    }
    output_.Progress(std::min<std::uint64_t>(total, std::uint64_t(double(total) * fraction)), total,
                     rate, std::max(0.0, left));
}

} // namespace

ExitStatus RunUpload(const CommandOptions& options, LoopInbox& inbox)
{
    CommandOutput output(options.json);
    CommandLog log(options.log);
    const auto finish = [&output](ExitStatus status, std::uint64_t passed, std::uint64_t failed) {
        output.Event(JsonLine("end")
                         .Add("status", int(status))
                         .Add("outcome", StatusName(status))
                         .Add("passed", passed)
                         .Add("failed", failed));
        return status;
    };
    if (!LoadPortMap(options, log, output))
        return finish(ExitStatus::BadArguments, 0, 0);
    const std::string name = options.port.empty() ? options.device : options.port;
    const std::string device = ResolvePortName(name);
    if (device.empty()) {
        output.Error("unknown port: " + name + " (give COM1, COM2, ... or a device path)");
        return finish(ExitStatus::BadArguments, 0, 0);
    }
    log.Log("initialization : com port : " + name);
    log.Log("initialization : BaudRate : " + std::to_string(options.baud));
    log.Log("initialization : fileName : " + options.file);

    upload::FirmwareFile file = ReadFirmware(options.file);
    if (!file.opened) {
        output.Error("cannot read " + options.file + ": " + file.error);
        log.Log("status : Unable to open " + options.file);
        log.Log("status : " + file.error);
        return finish(ExitStatus::FileUnusable, 0, 0);
    }
    const upload::FirmwareCheckResult check = upload::CheckFirmware(file.bytes);
    if (!check.ok) {
        output.Error(options.file + ": file check failed: " + check.FailureText());
        log.Log("status : File check failed: " + check.FailureText());
        return finish(ExitStatus::FileUnusable, 0, 0);
    }
    output.Event(JsonLine("file-checked")
                     .Add("file", file.absolutePath)
                     .Add("bytes", std::uint64_t(file.bytes.size()))
                     .Add("sha256", Sha256Hex(file.bytes))
                     .Add("format", FormatName(check.facts.format))
                     .Add("records", check.facts.records)
                     .Add("imageBytes", check.facts.imageBytes)
                     .Add("lowest", check.facts.lowest)
                     .Add("highest", check.facts.highest));

    LineLink link(inbox);
    if (const auto failure = link.Open(name, options.baud)) {
        log.Log("com port open failed");
        log.Log("status : " + failure->reason);
        output.Error(failure->reason);
        for (const std::string& line : failure->advice) {
            log.Log("port help : " + line);
            output.Hint(line);
        }
        return finish(ExitStatus::PortUnavailable, 0, 0);
    }
    log.Log("status : com port open successful");
    if (options.resultTimeout)
        upload::UnitRecorder::ResultBound = *options.resultTimeout;

    CommandHost host(link, output, log, options.record,
                     {options.port.empty() ? device : options.port, device, options.baud});
    Run run(options, inbox, link, host, output, std::move(file));
    const ExitStatus status = run.Go();
    std::uint64_t passed = 0;
    for (const upload::UnitOutcome outcome : host.Outcomes())
        passed += outcome == upload::UnitOutcome::CrcOk;
    const std::uint64_t failed = host.Outcomes().size() - passed;
    output.Step("Units: " + std::to_string(passed) + " passed, " + std::to_string(failed) +
                " failed; exit status " + std::to_string(int(status)) + " (" +
                std::string(StatusName(status)) + ")");
    return finish(status, passed, failed);
}

} // namespace cli
