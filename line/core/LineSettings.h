// The line's settings in OrvixLine.ini beside its record: how many stations, each station's
// name, socket, line speed and learned adapter, and the line's firmware. Read once at start;
// each change is written at once, one key at a time (TIniFile, written safely).
#pragma once

#include "line/station/SocketBinding.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace line {

constexpr const char* LineSettingsFileName = "OrvixLine.ini";
constexpr int MinStations = 1;
constexpr int MaxStations = 16;
// A line whose settings name no count.
constexpr int DefaultStations = 4;
constexpr std::uint32_t DefaultBaud = 115200;

struct StationSettings
{
    std::string name;   // "Station 1"
    std::string socket; // a /dev/serial/by-path link, or a fixed device
    std::uint32_t baud = DefaultBaud;
    std::optional<AdapterIdentity> adapter; // learned in the socket
};

struct LineSettings
{
    std::vector<StationSettings> stations;
    std::string firmware;
};

class LineSettingsFile
{
public:
    explicit LineSettingsFile(std::string path) : path_(std::move(path)) {}

    const std::string& Path() const { return path_; }
    // The settings in the file; missing values take their defaults, and a station count
    // outside 1..16 is held to it. `problems` lists what was refused, for the log.
    LineSettings Read(std::vector<std::string>& problems) const;
    // Each writes its keys at once; empty on success, "Unable to write to ..." otherwise.
    std::string WriteStationCount(int count);
    std::string WriteStation(int index, const StationSettings& station);
    std::string WriteFirmware(const std::string& path);

private:
    std::string path_;
};

// "Station 1" for index 0.
std::string DefaultStationName(int index);

} // namespace line
