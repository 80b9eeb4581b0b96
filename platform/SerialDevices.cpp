#include "platform/SerialDevices.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

namespace fs = std::filesystem;

namespace {

std::mutex& RootsMutex()
{
    static std::mutex m;
    return m;
}

SerialDeviceRoots& Roots()
{
    static SerialDeviceRoots roots;
    return roots;
}

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

// A ttyS port the kernel keeps a name for although no UART answers there has type 0.
bool UartPresent(const std::string& sysTty, const std::string& name)
{
    std::ifstream type(sysTty + "/" + name + "/type");
    int value = 0;
    return type >> value && value != 0;
}

} // namespace

void SetSerialDeviceRoots(SerialDeviceRoots roots)
{
    std::lock_guard lock(RootsMutex());
    Roots() = std::move(roots);
}

SerialDeviceRoots GetSerialDeviceRoots()
{
    std::lock_guard lock(RootsMutex());
    return Roots();
}

std::vector<FoundSerialDevice> ListSerialDevices()
{
    const SerialDeviceRoots roots = GetSerialDeviceRoots();
    std::map<std::string, FoundSerialDevice> found;
    std::error_code ec;
    for (fs::directory_iterator it(roots.dev, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const bool known = StartsWith(name, "ttyUSB") || StartsWith(name, "ttyACM") ||
                           StartsWith(name, "ttyAMA") || StartsWith(name, "rfcomm") ||
                           (StartsWith(name, "ttyS") && UartPresent(roots.sysTty, name));
        if (known)
            found[it->path().string()].path = it->path().string();
    }
    for (const char* kind : {"by-id", "by-path"}) {
        std::vector<fs::path> links;
        for (fs::directory_iterator it(roots.serial + "/" + kind, ec), end; !ec && it != end;
             it.increment(ec))
            links.push_back(it->path());
        std::sort(links.begin(), links.end());
        for (const fs::path& link : links) {
            std::error_code broken;
            const fs::path target = fs::canonical(link, broken);
            if (broken)
                continue;
            FoundSerialDevice& device = found[target.string()];
            device.path = target.string();
            device.stableNames.push_back(link.string());
        }
    }
    std::vector<FoundSerialDevice> devices;
    for (auto& [path, device] : found)
        devices.push_back(std::move(device));
    return devices;
}

std::string SerialDeviceText(const FoundSerialDevice& device)
{
    std::string text = device.path;
    for (std::size_t i = 0; i < device.stableNames.size(); ++i)
        text += (i == 0 ? " (" : ", ") + device.stableNames[i];
    return device.stableNames.empty() ? text : text + ")";
}

std::string SerialDevicesText(const std::vector<FoundSerialDevice>& devices)
{
    std::string text;
    for (const FoundSerialDevice& device : devices)
        text += (text.empty() ? "" : "; ") + SerialDeviceText(device);
    return text.empty() ? "none" : text;
}
