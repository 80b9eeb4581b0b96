// The priority class of the tool's own process, raised while a file is sent so the line is
// kept busy when the machine is loaded.
#pragma once

enum class PriorityClass
{
    Normal,
    High
};

#include <string>

// Sets the scheduling priority of every thread of this process: High is a nice value 10
// below the one the process started with, Normal the starting value. Best effort: returns
// false when the system refuses (raising priority needs privileges), which is not an error;
// `reason` (when given) then receives the system's reason.
bool SetPriorityClass(PriorityClass priority, std::string* reason = nullptr);
