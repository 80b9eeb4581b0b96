#include "platform/LocalClock.h"

#include <ctime>

LocalTime LocalNow()
{
    LocalTime now;
    now.utc = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    const std::time_t t = std::chrono::system_clock::to_time_t(now.utc);
    std::tm local{};
    if (localtime_r(&t, &local))
        now.utcOffsetSeconds = static_cast<int>(local.tm_gmtoff);
    return now;
}
