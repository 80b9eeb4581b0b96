#include "line/core/LineSettings.h"

#include "platform/ProfileFile.h"

#include <charconv>

namespace line {

namespace {

const char* const LineSection = "Line";

std::string StationSection(int index)
{
    std::string name = "Station";
    return name.append(std::to_string(index + 1));
}

std::optional<long> Number(const std::string& text)
{
    long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

// Runs a write and turns its exception into the text for the operator.
template <typename Write> std::string Try(Write write)
{
    try {
        write();
        return {};
    } catch (const Exception& e) {
        return e.Message;
    }
}

} // namespace

std::string DefaultStationName(int index)
{
    std::string name = "Station ";
    return name.append(std::to_string(index + 1));
}

LineSettings LineSettingsFile::Read(std::vector<std::string>& problems) const
{
    const TIniFile ini(path_);
    LineSettings settings;
    const std::string countText = ini.ReadString(LineSection, "Stations", "");
    int count = DefaultStations;
    if (!countText.empty()) {
        const std::optional<long> n = Number(countText);
        if (!n || *n < MinStations || *n > MaxStations)
            problems.push_back("Stations=" + countText + " is not a count of 1 to 16 stations; " +
                               "using " + std::to_string(count));
        else
            count = int(*n);
    }
    settings.firmware = ini.ReadString(LineSection, "Firmware", "");
    for (int i = 0; i < count; ++i) {
        const std::string section = StationSection(i);
        StationSettings station;
        station.name = ini.ReadString(section, "Name", DefaultStationName(i));
        station.socket = ini.ReadString(section, "Socket", "");
        const std::string baudText = ini.ReadString(section, "Baud", "");
        if (!baudText.empty()) {
            const std::optional<long> baud = Number(baudText);
            if (baud && *baud > 0)
                station.baud = std::uint32_t(*baud);
            else
                problems.push_back(section + ": Baud=" + baudText + " is not a line speed; " +
                                   "using " + std::to_string(DefaultBaud));
        }
        AdapterIdentity id{ini.ReadString(section, "Vendor", ""),
                           ini.ReadString(section, "Product", ""),
                           ini.ReadString(section, "Serial", "")};
        if (!id.vendor.empty() && !id.product.empty())
            station.adapter = id;
        settings.stations.push_back(std::move(station));
    }
    return settings;
}

std::string LineSettingsFile::WriteStationCount(int count)
{
    return Try(
        [&] { TIniFile(path_).WriteString(LineSection, "Stations", std::to_string(count)); });
}

std::string LineSettingsFile::WriteStation(int index, const StationSettings& station)
{
    return Try([&] {
        TIniFile ini(path_);
        const std::string section = StationSection(index);
        const AdapterIdentity none;
        const AdapterIdentity& id = station.adapter ? *station.adapter : none;
        ini.WriteString(section, "Name", station.name);
        ini.WriteString(section, "Socket", station.socket);
        ini.WriteString(section, "Baud", std::to_string(station.baud));
        ini.WriteString(section, "Vendor", id.vendor);
        ini.WriteString(section, "Product", id.product);
        ini.WriteString(section, "Serial", id.serial);
    });
}

std::string LineSettingsFile::WriteFirmware(const std::string& path)
{
    return Try([&] { TIniFile(path_).WriteString(LineSection, "Firmware", path); });
}

} // namespace line
