// The line's one firmware, pinned: read and checked once when chosen, its bytes handed to
// every station, and the file on disk watched, so that a file changed under the line stops
// every station before its next unit until the operator confirms the new content.
#pragma once

#include "upload/UploadEngine.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace line {

class LineFirmware
{
public:
    // Reads and checks `path`; on success it becomes the line's firmware. Empty on success,
    // the reason otherwise (the firmware pinned before stays).
    std::string Pin(const std::string& path);

    bool Pinned() const { return !file_.bytes.empty(); }
    const upload::FirmwareFile& File() const { return file_; }
    const std::string& Sha256() const { return sha256_; }
    // What the check found ("S-record file, 36 records, ..."), for the log.
    const std::string& Facts() const { return facts_; }

    // Looks at the file on disk (its size and time first, its content when they moved).
    // Empty while it is the pinned content; otherwise why no unit may be programmed, and the
    // line stays stopped until Confirm.
    std::string Verify();
    // The operator accepts the file as it is now: it is pinned again. Empty on success.
    std::string Confirm() { return Pin(file_.path); }
    bool Changed() const { return changed_; }

private:
    upload::FirmwareFile file_;
    std::string sha256_;
    std::string facts_;
    std::uintmax_t size_ = 0;
    std::filesystem::file_time_type time_{};
    bool changed_ = false;
};

} // namespace line
