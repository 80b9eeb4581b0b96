// The production line: its stations, its pinned firmware, its record and log, and its
// settings, all in one folder. What the window's buttons do to the whole line is here, so
// that tests and the benchmark run the same line without a window.
#pragma once

#include "line/core/LineFirmware.h"
#include "line/core/LineJournal.h"
#include "line/core/LineSettings.h"
#include "line/station/Station.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace line {

class Line : public StationServices
{
public:
    // Reads OrvixLine.ini in `folder` (when `stations` is given, that many stations, saved)
    // and pins the firmware it names. What was refused is in Problems().
    explicit Line(std::string folder, std::optional<int> stations = std::nullopt);
    ~Line() override;
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    const std::string& Folder() const { return folder_; }
    const std::vector<std::string>& Problems() const { return problems_; }
    int Count() const { return int(stations_.size()); }
    Station& At(int index) { return *stations_[std::size_t(index)]; }

    void StartAll();
    void StopAll();
    void CancelAll();

    // Pins `path` as the line's firmware and saves it. Empty on success, the reason otherwise.
    std::string ChooseFirmware(const std::string& path);
    // Accepts the firmware file as it now is on disk. Empty on success, the reason otherwise.
    std::string ConfirmFirmware();
    const LineFirmware& Firmware() const { return firmware_; }

    // Binds station `index` to the one by-path socket no other station names. Empty on
    // success, the reason otherwise.
    std::string Learn(int index);
    // Binds station `index` to a fixed device or socket by name.
    void Bind(int index, const std::string& socket);

    LineJournal& Journal() { return journal_; }

    // StationServices
    const upload::FirmwareFile* FirmwareForUnit(std::string& reason) override;
    std::string RecordUnit(const upload::UnitRecord& record, const std::string& station,
                           const std::string& socket) override;
    void Log(const std::string& station, const std::string& text) override;

private:
    void SaveStation(int index);

    std::string folder_;
    LineSettingsFile settingsFile_;
    LineFirmware firmware_;
    LineJournal journal_;
    std::vector<std::string> problems_;
    std::vector<std::unique_ptr<Station>> stations_;
};

} // namespace line
