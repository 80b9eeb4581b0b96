#include "platform/ProcessPriority.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <sys/resource.h>
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

bool SetPriorityClass(PriorityClass priority)
{
    const int target = priority == PriorityClass::High ? StartingNice() - 10 : StartingNice();
    // Linux keeps the nice value per thread, so every thread of the process is set.
    DIR* tasks = ::opendir("/proc/self/task");
    if (!tasks)
        return ::setpriority(PRIO_PROCESS, 0, target) == 0;
    bool ok = true;
    while (const dirent* entry = ::readdir(tasks)) {
        if (entry->d_name[0] == '.')
            continue;
        const auto tid = static_cast<id_t>(std::strtoul(entry->d_name, nullptr, 10));
        if (::setpriority(PRIO_PROCESS, tid, target) != 0)
            ok = false;
    }
    ::closedir(tasks);
    return ok;
}
