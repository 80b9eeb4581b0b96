#include "line/core/Line.h"

#include <algorithm>
#include <filesystem>

namespace line {

namespace {

// The port numbers the stations' devices are mapped to, above any a [Ports] map uses.
constexpr std::uint32_t FirstStationPort = 200;
const char* const LineSource = "line";

} // namespace

Line::Line(std::string folder, std::optional<int> stations)
    : folder_(std::move(folder)),
      settingsFile_((std::filesystem::path(folder_) / LineSettingsFileName).string()),
      journal_(folder_)
{
    LineSettings settings = settingsFile_.Read(problems_);
    if (stations) {
        const int count = std::clamp(*stations, MinStations, MaxStations);
        for (int i = int(settings.stations.size()); i < count; ++i)
            settings.stations.push_back({DefaultStationName(i), {}, DefaultBaud, {}});
        settings.stations.resize(std::size_t(count));
        if (const std::string error = settingsFile_.WriteStationCount(count); !error.empty())
            problems_.push_back(error);
    }
    for (std::size_t i = 0; i < settings.stations.size(); ++i) {
        auto station = std::make_unique<Station>(int(i), settings.stations[i],
                                                 FirstStationPort + std::uint32_t(i), *this);
        station->OnSettingsChanged = [this, i] { SaveStation(int(i)); };
        stations_.push_back(std::move(station));
    }
    std::string opening = "initialization : line of ";
    opening.append(std::to_string(stations_.size())).append(" stations in ").append(folder_);
    Log(LineSource, opening);
    if (!settings.firmware.empty())
        if (const std::string error = firmware_.Pin(settings.firmware); !error.empty())
            problems_.push_back(error);
    if (firmware_.Pinned())
        Log(LineSource, "file check : " + firmware_.File().path + ": " + firmware_.Facts());
    for (const std::string& problem : problems_)
        Log(LineSource, "status : " + problem);
}

Line::~Line()
{
    // The stations record what they still have open before the journal goes.
    stations_.clear();
}

void Line::StartAll()
{
    for (auto& station : stations_)
        station->Start();
}

void Line::StopAll()
{
    for (auto& station : stations_)
        station->Stop();
}

void Line::CancelAll()
{
    for (auto& station : stations_)
        station->Cancel();
}

std::string Line::ChooseFirmware(const std::string& path)
{
    if (const std::string error = firmware_.Pin(path); !error.empty()) {
        Log(LineSource, "status : " + error);
        return error;
    }
    Log(LineSource, "file check : " + firmware_.File().path + ": " + firmware_.Facts());
    return settingsFile_.WriteFirmware(firmware_.File().path);
}

std::string Line::ConfirmFirmware()
{
    const std::string error = firmware_.Confirm();
    std::string text = "status : ";
    if (error.empty())
        text.append("firmware confirmed: ").append(firmware_.Facts());
    else
        text.append(error);
    Log(LineSource, text);
    return error;
}

std::string Line::Learn(int index)
{
    std::vector<std::string> bound;
    for (const auto& station : stations_)
        if (station->Index() != index && !station->Settings().socket.empty())
            bound.push_back(station->Settings().socket);
    std::string error;
    const std::string socket = LearnSocket(bound, error);
    if (socket.empty()) {
        Log(At(index).Settings().name, "status : " + error);
        return error;
    }
    At(index).Bind(socket);
    return {};
}

void Line::Bind(int index, const std::string& socket)
{
    At(index).Bind(socket);
}

void Line::SaveStation(int index)
{
    if (const std::string error = settingsFile_.WriteStation(index, At(index).Settings());
        !error.empty())
        Log(At(index).Settings().name, "status : " + error);
}

const upload::FirmwareFile* Line::FirmwareForUnit(std::string& reason)
{
    reason = firmware_.Verify();
    return reason.empty() ? &firmware_.File() : nullptr;
}

std::string Line::RecordUnit(const upload::UnitRecord& record, const std::string& station,
                             const std::string& socket)
{
    return journal_.Record(record, station, socket);
}

void Line::Log(const std::string& station, const std::string& text)
{
    journal_.Log(station, text);
}

} // namespace line
