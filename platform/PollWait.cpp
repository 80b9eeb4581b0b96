#include "platform/PollWait.h"

#include <algorithm>
#include <cerrno>
#include <ctime>

bool PollUntil(pollfd* fds, nfds_t count, std::chrono::steady_clock::time_point deadline)
{
    using Clock = std::chrono::steady_clock;
    for (;;) {
        timespec ts{};
        timespec* timeout = nullptr;
        if (deadline != Clock::time_point::max()) {
            const auto left = std::max(Clock::duration::zero(), deadline - Clock::now());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            ts.tv_sec = static_cast<time_t>(ns / 1000000000);
            ts.tv_nsec = static_cast<long>(ns % 1000000000);
            timeout = &ts;
        }
        const int r = ::ppoll(fds, count, timeout, nullptr);
        if (r > 0)
            return true;
        if (r == 0)
            return false;
        if (errno != EINTR) {
            ::poll(nullptr, 0, 10);
            return false;
        }
    }
}
