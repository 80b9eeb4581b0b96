#include "platform/PortNames.h"

#include <mutex>

namespace {

std::mutex& MapMutex()
{
    static std::mutex m;
    return m;
}

std::map<unsigned, std::string>& Map()
{
    static std::map<unsigned, std::string> map;
    return map;
}

} // namespace

void SetPortMap(std::map<unsigned, std::string> map)
{
    std::lock_guard lock(MapMutex());
    Map() = std::move(map);
}

std::map<unsigned, std::string> PortMap()
{
    std::lock_guard lock(MapMutex());
    return Map();
}

std::string ResolvePortName(const std::string& name)
{
    if (!name.empty() && name.front() == '/')
        return name;
    if (name.size() < 4 || name.compare(0, 3, "COM") != 0)
        return {};
    // Digits only (no sign, no spaces), and small enough not to wrap around.
    unsigned long n = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        const char c = name[i];
        if (c < '0' || c > '9')
            return {};
        n = n * 10 + static_cast<unsigned long>(c - '0');
        if (n > 0xFFFFFFFFul)
            return {};
    }
    if (n == 0)
        return {};
    {
        std::lock_guard lock(MapMutex());
        const auto it = Map().find(static_cast<unsigned>(n));
        if (it != Map().end())
            return it->second;
    }
    return "/dev/ttyS" + std::to_string(n - 1);
}
