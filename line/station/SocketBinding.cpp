#include "line/station/SocketBinding.h"

#include "platform/SerialDevices.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace line {

namespace {

const char* const ByPath = "by-path";

// The first line of a sysfs attribute, without its line end; empty when it is missing.
std::string Attribute(const fs::path& file)
{
    std::ifstream in(file);
    std::string value;
    std::getline(in, value);
    while (!value.empty() && (value.back() == '\n' || value.back() == ' '))
        value.pop_back();
    return value;
}

fs::path ByPathFolder()
{
    return fs::path(GetSerialDeviceRoots().serial) / ByPath;
}

} // namespace

std::string AdapterIdentity::Text() const
{
    std::string text = vendor;
    text.append(":").append(product);
    if (!serial.empty())
        text.append(" serial ").append(serial);
    return text;
}

std::optional<AdapterIdentity> AdapterOf(const std::string& device)
{
    std::error_code ec;
    const fs::path real = fs::canonical(device, ec);
    if (ec)
        return std::nullopt;
    const fs::path link = fs::path(GetSerialDeviceRoots().sysTty) / real.filename() / "device";
    const fs::path interface = fs::canonical(link, ec);
    if (ec)
        return std::nullopt;
    // device is the tty's own node under the USB interface; the interface's parent is the
    // USB device that carries the identity.
    const fs::path usb = interface.parent_path().parent_path();
    AdapterIdentity id{Attribute(usb / "idVendor"), Attribute(usb / "idProduct"),
                       Attribute(usb / "serial")};
    if (id.vendor.empty() || id.product.empty())
        return std::nullopt;
    return id;
}

bool IsSocketName(const std::string& socket)
{
    return fs::path(socket).parent_path() == ByPathFolder();
}

std::string ResolveSocket(const std::string& socket)
{
    std::error_code ec;
    const fs::path real = fs::canonical(socket, ec);
    return ec ? std::string() : real.string();
}

std::string LearnSocket(const std::vector<std::string>& bound, std::string& error)
{
    std::vector<std::string> free;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(ByPathFolder(), ec)) {
        const std::string name = entry.path().string();
        if (std::find(bound.begin(), bound.end(), name) == bound.end() &&
            !ResolveSocket(name).empty())
            free.push_back(name);
    }
    if (free.size() == 1)
        return free.front();
    std::sort(free.begin(), free.end());
    if (free.empty()) {
        error = "No unbound adapter found in ";
        error.append(ByPathFolder().string())
            .append(": plug the station's adapter in, then press Learn");
    } else {
        error = "Several unbound adapters found (";
        for (std::size_t i = 0; i < free.size(); ++i)
            error.append(i ? ", " : "").append(fs::path(free[i]).filename().string());
        error += "): unplug all but the station's adapter, then press Learn";
    }
    return {};
}

std::string SocketOf(const AdapterIdentity& adapter)
{
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(ByPathFolder(), ec)) {
        const std::string device = ResolveSocket(entry.path().string());
        if (!device.empty() && AdapterOf(device) == adapter)
            return entry.path().string();
    }
    return {};
}

SocketCheck CheckSocket(const std::string& socket, const std::optional<AdapterIdentity>& learned)
{
    SocketCheck check;
    if (socket.empty()) {
        check.problem = "No socket bound: plug the adapter in and press Learn";
        return check;
    }
    check.device = ResolveSocket(socket);
    if (check.device.empty()) {
        const std::string moved = learned ? SocketOf(*learned) : std::string();
        check.problem = "No adapter in " + socket;
        if (moved.empty())
            check.problem += ": plug it in, then press Start";
        else
            check.problem.append(": its adapter (")
                .append(learned->Text())
                .append(") is in ")
                .append(moved)
                .append(": put it back, then press Start");
        return check;
    }
    if (!learned)
        return check;
    const std::optional<AdapterIdentity> found = AdapterOf(check.device);
    if (found && *found == *learned)
        return check;
    check.swapped = true;
    check.problem = "Another adapter in " + socket + " (" +
                    (found ? found->Text() : std::string("no USB adapter")) + ", learned " +
                    learned->Text() + "): put the station's adapter back, or press Confirm to " +
                    "accept this one";
    return check;
}

} // namespace line
