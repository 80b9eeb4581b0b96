// Generates firmware files the unit accepts: a pseudo-random image with the CRC-32 trailer,
// written as S-records or Intel HEX with lines shorter than 99 bytes and CR LF line ends, as
// Windows tools write them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct FirmwareRecipe
{
    enum class Format
    {
        Srec,
        IntelHex
    };
    std::size_t size = 1024;   // image bytes before the 4-byte CRC trailer
    std::uint32_t address = 0; // load address of the first byte
    Format format = Format::Srec;
    bool badCrc = false;            // store a wrong trailer
    bool badRecordChecksum = false; // spoil the checksum of one data record in the middle
    std::uint32_t seed = 1;
};

// The image a file made from `recipe` loads: `size` pseudo-random bytes and the trailer.
std::vector<std::uint8_t> MakeFirmwareImage(const FirmwareRecipe& recipe);
// The text of the firmware file.
std::string MakeFirmwareText(const FirmwareRecipe& recipe);
