// The exit status of orvix-upload: one fixed code per class of outcome, as its manual page
// lists them, so a rack's script can tell a bad unit from a bad cable or a bad file.
#pragma once

#include "upload/UnitRecord.h"

#include <string_view>

namespace cli {

enum class ExitStatus : int
{
    Ok = 0,              // every unit: "CRC is OK"
    BadArguments = 2,    // an unknown option, a missing value, contradicting options
    FileUnusable = 3,    // the firmware file is missing, unreadable or fails its check
    PortUnavailable = 4, // missing, not permitted, busy, or the speed refused
    NoGreeting = 5,      // no unit greeted within --greet-timeout
    DownloadFailed = 6,  // the unit reported "Download failed"
    ProgramFailed = 7,   // the unit reported "programming failed"
    CrcBad = 8,          // the unit reported "CRC is BAD"
    LineVanished = 9,    // the port failed (read or send error): unplugged, lost
    NoResult = 10,       // the unit said nothing within --result-timeout after the transfer
    Cancelled = 11,      // SIGINT or SIGTERM
};

// The status a unit's recorded outcome stands for.
ExitStatus StatusOfOutcome(upload::UnitOutcome outcome);
// "ok", "bad-arguments", ... as the JSON end event names it.
std::string_view StatusName(ExitStatus status);

} // namespace cli
