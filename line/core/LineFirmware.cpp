#include "line/core/LineFirmware.h"

#include "platform/Sha256.h"
#include "upload/FirmwareCheck.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace line {

namespace {

// The file's bytes, or nothing with the system's reason.
bool ReadAll(const std::string& path, std::string& bytes, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream all;
    all << in.rdbuf();
    bytes = all.str();
    return true;
}

} // namespace

std::string LineFirmware::Pin(const std::string& path)
{
    std::string bytes;
    std::string error;
    if (!ReadAll(path, bytes, error))
        return "Firmware not read: " + error;
    const upload::FirmwareCheckResult check = upload::CheckFirmware(bytes);
    if (!check.ok) {
        std::string text = "Firmware refused: ";
        return text.append(path).append(": ").append(check.FailureText());
    }
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    upload::FirmwareFile file;
    file.path = absolute.string();
    file.absolutePath = absolute.string();
    file.opened = true;
    file.bytes = std::move(bytes);
    sha256_ = Sha256Hex(file.bytes);
    facts_ = check.ok && check.facts.format != upload::FirmwareFormat::Other
                 ? upload::FirmwareFactsText(check.facts, sha256_)
                 : check.UncheckedText();
    size_ = fs::file_size(path, ec);
    time_ = fs::last_write_time(path, ec);
    file_ = std::move(file);
    changed_ = false;
    return {};
}

std::string LineFirmware::Verify()
{
    if (!Pinned())
        return "No firmware chosen: press Firmware... and choose the line's file";
    if (changed_)
        return "The firmware file changed on disk: press Confirm firmware to use it";
    std::error_code sizeError;
    std::error_code timeError;
    const std::uintmax_t size = fs::file_size(file_.path, sizeError);
    const fs::file_time_type time = fs::last_write_time(file_.path, timeError);
    if (!sizeError && !timeError && size == size_ && time == time_)
        return {};
    std::string bytes;
    std::string error;
    if (ReadAll(file_.path, bytes, error) && Sha256Hex(bytes) == sha256_) {
        // Touched but the same content: keep going with the new time.
        size_ = size;
        time_ = time;
        return {};
    }
    changed_ = true;
    return "The firmware file changed on disk: press Confirm firmware to use it";
}

} // namespace line
