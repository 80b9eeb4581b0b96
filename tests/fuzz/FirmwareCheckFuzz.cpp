// Checking any file as firmware: no crash, always an answer, and the answer is consistent
// with the bytes (a failure names a line of the file, figures fit in the file).
#include "upload/FirmwareCheck.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const upload::FirmwareCheckResult r = upload::CheckFirmware(bytes);
    const auto lines = std::uint64_t(std::count(bytes.begin(), bytes.end(), '\n')) + 1;
    if (r.ok) {
        if (size == 0 || bytes.find('\0') != std::string_view::npos)
            std::abort();
        const upload::FirmwareFacts& f = r.facts;
        if (f.format == upload::FirmwareFormat::Other) {
            if (f.records != 0 || f.imageBytes != 0)
                std::abort();
        } else if (f.records == 0 || f.records > lines || f.imageBytes > size / 2 ||
                   (f.imageBytes > 0 && f.highest - f.lowest + 1 < f.imageBytes)) {
            std::abort();
        }
    } else if (r.reason.empty() || r.line > lines || r.FailureText().empty()) {
        std::abort();
    }
    return 0;
}
