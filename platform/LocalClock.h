// The wall clock as the records show it: a moment with the local time zone's offset from UTC
// at that moment.
#pragma once

#include <chrono>

struct LocalTime
{
    std::chrono::sys_seconds utc{};
    int utcOffsetSeconds = 0; // east of UTC positive
};

// Now, with the offset the system's time zone rules give for now.
LocalTime LocalNow();
