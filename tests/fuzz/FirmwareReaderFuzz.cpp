// Reading any file as firmware: no crash, the reading always ends, and every line obeys the
// text rules.
#include "upload/FirmwareReader.h"

#include <cstdlib>
#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    upload::FirmwareReader reader(std::make_unique<std::istringstream>(bytes));
    if (reader.Length() != std::int64_t(size))
        std::abort();
    std::size_t lines = 0;
    std::size_t textBytes = 0;
    while (!reader.AtEnd()) {
        const AnsiString line = reader.ReadLine();
        if (line.find_first_of(std::string("\r\n\x1A\0", 4)) != AnsiString::npos)
            std::abort();
        textBytes += line.size();
        // Every read consumes at least one byte or ends the data, so this is bounded.
        if (++lines > size + 1 || textBytes > size)
            std::abort();
    }
    return 0;
}
