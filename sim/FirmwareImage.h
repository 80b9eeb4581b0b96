// The image a unit programs from the records of one download, and the checksum rule its
// firmware follows: the image runs from its lowest to its highest written address, gaps
// filled with 0xFF, and its last four bytes hold the CRC-32 (IEEE 802.3, as zlib computes it)
// of all bytes before them, little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

std::uint32_t Crc32(const std::uint8_t* bytes, std::size_t count);

// True when the image is longer than four bytes and ends with the CRC-32 trailer of the rest.
bool CrcTrailerOk(const std::vector<std::uint8_t>& image);
// Appends the CRC-32 trailer of `image` to it.
void AppendCrcTrailer(std::vector<std::uint8_t>& image);

class FirmwareImage
{
public:
    // Addresses from 0 to flashSize - 1 can be programmed.
    explicit FirmwareImage(std::uint64_t flashSize) : flashSize_(flashSize) {}

    // Stores bytes at `address` (a later write wins). Returns false, storing nothing, when
    // any of them would fall outside the flash.
    bool Write(std::uint64_t address, const std::vector<std::uint8_t>& bytes);

    bool Empty() const { return !written_; }
    std::uint64_t LowestAddress() const { return lowest_; }
    // The image from the lowest to the highest written address, gaps 0xFF.
    std::vector<std::uint8_t> Bytes() const;

private:
    std::uint64_t flashSize_;
    bool written_ = false;
    std::uint64_t lowest_ = 0;
    // Bytes from address 0 up to the highest written one; unwritten ones are 0xFF.
    std::vector<std::uint8_t> memory_;
};
