#include "cli/CommandHost.h"

#include "platform/PortAdvice.h"
#include "platform/ProcessPriority.h"
#include "upload/UnitRecorder.h"

#include <filesystem>

namespace cli {

namespace {

// The engine's status text of the lines sent so far: "Number of Lines: 120".
constexpr std::string_view LineCountPrefix = "Number of Lines: ";

} // namespace

CommandHost::CommandHost(LineLink& link, CommandOutput& output, CommandLog& log,
                         std::string recordPath, upload::PortIdentity port)
    : link_(link), output_(output), log_(log), recordPath_(std::move(recordPath)),
      port_(std::move(port))
{
}

std::string CommandHost::Send(const std::string& bytes)
{
    link_.Send(bytes);
    return {};
}

void CommandHost::Advise(const std::string& errorText)
{
    const std::string advice = SerialErrorAdvice(errorText);
    if (advice.empty())
        return;
    log_.Log("port help : " + advice);
    output_.Hint(advice);
}

void CommandHost::WakeUpTimer(bool on)
{
    if (!on)
        wakeUpDue_.reset();
    else if (!wakeUpDue_)
        wakeUpDue_ = Clock::now() + WakeUpInterval;
}

void CommandHost::Status(const std::string& text)
{
    // The status bar shows a text once; the engine sets the same text again at times.
    if (text == lastStatus_)
        return;
    lastStatus_ = text;
    // The line count the window shows as the transfer goes is the progress bar's here.
    if (text.rfind(LineCountPrefix, 0) == 0)
        return;
    output_.Step(text);
}

void CommandHost::HighPriority(bool on)
{
    // Best effort, as in the window: a refusal is logged once, with the system's reason.
    std::string reason;
    if (!SetPriorityClass(on ? PriorityClass::High : PriorityClass::Normal, &reason) && on &&
        !priorityRefusalTold_) {
        priorityRefusalTold_ = true;
        log_.Log("status : Priority not raised: " + reason);
    }
}

void CommandHost::RecordUnit(const upload::UnitRecord& record)
{
    outcomes_.push_back(record.outcome);
    output_.Event(JsonLine("verdict")
                      .Add("unit", std::uint64_t(outcomes_.size()))
                      .Add("outcome", upload::OutcomeName(record.outcome)));
    output_.Event(JsonLine("record")
                      .Add("start", upload::IsoTime(record.start))
                      .Add("end", upload::IsoTime(record.end))
                      .Add("port", record.port)
                      .Add("device", record.device)
                      .Add("baud", std::uint64_t(record.baud))
                      .Add("file", record.file)
                      .Add("fileSize", record.fileSize)
                      .Add("sha256", record.sha256)
                      .Add("bytesSent", record.bytesSent)
                      .Add("linesSent", record.linesSent)
                      .Add("xoffHolds", record.xoffHolds)
                      .Add("longestHoldMs", record.longestHoldMs)
                      .Add("transferMs", record.transferMs)
                      .Add("lineErrors", record.lineErrors)
                      .Add("outcome", upload::OutcomeName(record.outcome)));
    const std::string error = upload::AppendCsvLine(recordPath_, upload::CsvLine(record));
    if (error.empty())
        return;
    std::error_code ignored;
    std::string text = "Unable to write to ";
    text += std::filesystem::absolute(recordPath_, ignored).string();
    output_.Error(text + ": " + error);
    log_.Log("status : " + text);
}

LocalTime CommandHost::WallNow() const
{
    return LocalNow();
}

} // namespace cli
