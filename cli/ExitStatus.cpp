#include "cli/ExitStatus.h"

namespace cli {

ExitStatus StatusOfOutcome(upload::UnitOutcome outcome)
{
    switch (outcome) {
    case upload::UnitOutcome::CrcOk:
        return ExitStatus::Ok;
    case upload::UnitOutcome::CrcBad:
        return ExitStatus::CrcBad;
    case upload::UnitOutcome::ProgrammingFailed:
        return ExitStatus::ProgramFailed;
    case upload::UnitOutcome::DownloadFailed:
        return ExitStatus::DownloadFailed;
    case upload::UnitOutcome::Cancelled:
        return ExitStatus::Cancelled;
    case upload::UnitOutcome::SendError:
        return ExitStatus::LineVanished;
    case upload::UnitOutcome::NoResult:
        break;
    }
    return ExitStatus::NoResult;
}

std::string_view StatusName(ExitStatus status)
{
    switch (status) {
    case ExitStatus::Ok:
        return "ok";
    case ExitStatus::BadArguments:
        return "bad-arguments";
    case ExitStatus::FileUnusable:
        return "file-unusable";
    case ExitStatus::PortUnavailable:
        return "port-unavailable";
    case ExitStatus::NoGreeting:
        return "no-greeting";
    case ExitStatus::DownloadFailed:
        return "download-failed";
    case ExitStatus::ProgramFailed:
        return "programming-failed";
    case ExitStatus::CrcBad:
        return "crc-bad";
    case ExitStatus::LineVanished:
        return "line-vanished";
    case ExitStatus::NoResult:
        return "no-result";
    case ExitStatus::Cancelled:
        return "cancelled";
    }
    return "unknown";
}

} // namespace cli
