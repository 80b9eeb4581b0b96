#include "platform/ProcessPriority.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <sys/resource.h>
#include <system_error>
#include <unistd.h>

namespace {

int StartingNice()
{
    // Read once: the nice value of the process before this module changed anything.
    static const int nice = [] {
        errno = 0;
        const int n = ::getpriority(PRIO_PROCESS, 0);
        return errno == 0 ? n : 0;
    }();
    return nice;
}

} // namespace

bool SetPriorityClass(PriorityClass priority, std::string* reason)
{
    const int target = priority == PriorityClass::High ? StartingNice() - 10 : StartingNice();
    int failure = 0;
    // Linux keeps the nice value per thread, so every thread of the process is set.
    if (DIR* tasks = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(tasks)) {
            if (entry->d_name[0] == '.')
                continue;
            const auto tid = static_cast<id_t>(std::strtoul(entry->d_name, nullptr, 10));
            if (::setpriority(PRIO_PROCESS, tid, target) != 0 && failure == 0)
                failure = errno;
        }
        ::closedir(tasks);
    } else if (::setpriority(PRIO_PROCESS, 0, target) != 0) {
        failure = errno;
    }
    if (failure != 0 && reason)
        *reason = std::generic_category().message(failure);
    return failure == 0;
}
