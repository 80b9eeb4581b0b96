#include "sim/FirmwareImage.h"

#include <algorithm>
#include <zlib.h>

std::uint32_t Crc32(const std::uint8_t* bytes, std::size_t count)
{
    uLong crc = ::crc32(0L, Z_NULL, 0);
    // zlib takes at most uInt bytes a call.
    while (count > 0) {
        const auto chunk = static_cast<uInt>(std::min<std::size_t>(count, 1u << 30));
        crc = ::crc32(crc, bytes, chunk);
        bytes += chunk;
        count -= chunk;
    }
    return static_cast<std::uint32_t>(crc);
}

bool CrcTrailerOk(const std::vector<std::uint8_t>& image)
{
    if (image.size() <= 4)
        return false;
    const std::size_t n = image.size() - 4;
    const std::uint32_t stored = static_cast<std::uint32_t>(image[n]) |
                                 static_cast<std::uint32_t>(image[n + 1]) << 8 |
                                 static_cast<std::uint32_t>(image[n + 2]) << 16 |
                                 static_cast<std::uint32_t>(image[n + 3]) << 24;
    return stored == Crc32(image.data(), n);
}

void AppendCrcTrailer(std::vector<std::uint8_t>& image)
{
    const std::uint32_t crc = Crc32(image.data(), image.size());
    for (int i = 0; i < 4; ++i)
        image.push_back(static_cast<std::uint8_t>(crc >> (8 * i)));
}

bool FirmwareImage::Write(std::uint64_t address, const std::vector<std::uint8_t>& bytes)
{
    if (address > flashSize_ || bytes.size() > flashSize_ - address)
        return false;
    if (bytes.empty())
        return true;
    const std::uint64_t end = address + bytes.size();
    if (memory_.size() < end)
        memory_.resize(end, 0xFF);
    std::copy(bytes.begin(), bytes.end(), memory_.begin() + static_cast<std::ptrdiff_t>(address));
    lowest_ = written_ ? std::min(lowest_, address) : address;
    written_ = true;
    return true;
}

std::vector<std::uint8_t> FirmwareImage::Bytes() const
{
    if (!written_)
        return {};
    return std::vector<std::uint8_t>(memory_.begin() + static_cast<std::ptrdiff_t>(lowest_),
                                     memory_.end());
}
