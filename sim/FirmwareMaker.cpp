#include "sim/FirmwareMaker.h"

#include "sim/FirmwareImage.h"

#include <algorithm>
#include <random>

namespace {

constexpr std::size_t kBytesPerRecord = 32;

void AppendHexByte(std::string& out, std::uint8_t b)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
}

// One S-record of `type` with an address of `addressBytes` bytes.
std::string SRecord(char type, int addressBytes, std::uint32_t address, const std::uint8_t* data,
                    std::size_t count)
{
    std::vector<std::uint8_t> body;
    body.push_back(static_cast<std::uint8_t>(addressBytes + count + 1));
    for (int i = addressBytes - 1; i >= 0; --i)
        body.push_back(static_cast<std::uint8_t>(address >> (8 * i)));
    body.insert(body.end(), data, data + count);
    unsigned sum = 0;
    for (const std::uint8_t b : body)
        sum += b;
    body.push_back(static_cast<std::uint8_t>(~sum));
    std::string line = "S";
    line += type;
    for (const std::uint8_t b : body)
        AppendHexByte(line, b);
    return line + "\r\n";
}

std::string HexRecord(std::uint8_t type, std::uint16_t offset, const std::uint8_t* data,
                      std::size_t count)
{
    std::vector<std::uint8_t> body = {static_cast<std::uint8_t>(count),
                                      static_cast<std::uint8_t>(offset >> 8),
                                      static_cast<std::uint8_t>(offset), type};
    body.insert(body.end(), data, data + count);
    unsigned sum = 0;
    for (const std::uint8_t b : body)
        sum += b;
    body.push_back(static_cast<std::uint8_t>(-sum));
    std::string line = ":";
    for (const std::uint8_t b : body)
        AppendHexByte(line, b);
    return line + "\r\n";
}

// Changes the record's checksum digits (the two before CR LF) to a wrong value.
void SpoilChecksum(std::string& line)
{
    const std::size_t at = line.size() - 4;
    line[at] = line[at] == '0' ? '1' : '0';
}

} // namespace

std::vector<std::uint8_t> MakeFirmwareImage(const FirmwareRecipe& recipe)
{
    std::mt19937 random(recipe.seed);
    std::vector<std::uint8_t> image(recipe.size);
    for (auto& b : image)
        b = static_cast<std::uint8_t>(random() & 0xFF);
    AppendCrcTrailer(image);
    if (recipe.badCrc)
        image.back() ^= 0x5A;
    return image;
}

std::string MakeFirmwareText(const FirmwareRecipe& recipe)
{
    const std::vector<std::uint8_t> image = MakeFirmwareImage(recipe);
    const std::uint64_t end = static_cast<std::uint64_t>(recipe.address) + image.size();
    const std::size_t records = (image.size() + kBytesPerRecord - 1) / kBytesPerRecord;
    const std::size_t spoilt = recipe.badRecordChecksum ? records / 2 : records;
    std::string out;
    if (recipe.format == FirmwareRecipe::Format::Srec) {
        // The narrowest address that reaches the end of the image, for the whole file.
        const int width = end <= 0x10000 ? 2 : end <= 0x1000000 ? 3 : 4;
        const char dataType = static_cast<char>('1' + (width - 2));
        const char endType = static_cast<char>('9' - (width - 2));
        static constexpr std::uint8_t kHeader[] = {'o', 'r', 'v', 'i', 'x', '-', 's', 'i', 'm'};
        out += SRecord('0', 2, 0, kHeader, sizeof kHeader);
        for (std::size_t i = 0; i < records; ++i) {
            const std::size_t from = i * kBytesPerRecord;
            const std::size_t n = std::min(kBytesPerRecord, image.size() - from);
            std::string line =
                SRecord(dataType, width, static_cast<std::uint32_t>(recipe.address + from),
                        image.data() + from, n);
            if (i == spoilt)
                SpoilChecksum(line);
            out += line;
        }
        if (records <= 0xFFFF)
            out += SRecord('5', 2, static_cast<std::uint32_t>(records), nullptr, 0);
        else
            out += SRecord('6', 3, static_cast<std::uint32_t>(records), nullptr, 0);
        out += SRecord(endType, width, recipe.address, nullptr, 0);
        return out;
    }
    std::uint32_t upper = 0;
    for (std::size_t i = 0; i < records; ++i) {
        const std::size_t from = i * kBytesPerRecord;
        const std::uint32_t address = static_cast<std::uint32_t>(recipe.address + from);
        std::size_t n = std::min(kBytesPerRecord, image.size() - from);
        if (i == 0 || (address >> 16) != upper) {
            upper = address >> 16;
            const std::uint8_t base[2] = {static_cast<std::uint8_t>(upper >> 8),
                                          static_cast<std::uint8_t>(upper)};
            out += HexRecord(0x04, 0, base, 2);
        }
        // A record must not run past a 64 KiB boundary: split it there.
        const std::size_t toBoundary = 0x10000 - (address & 0xFFFF);
        std::string line;
        if (n > toBoundary) {
            line = HexRecord(0x00, static_cast<std::uint16_t>(address), image.data() + from,
                             toBoundary);
            upper = (address >> 16) + 1;
            const std::uint8_t base[2] = {static_cast<std::uint8_t>(upper >> 8),
                                          static_cast<std::uint8_t>(upper)};
            line += HexRecord(0x04, 0, base, 2);
            line += HexRecord(0x00, 0, image.data() + from + toBoundary, n - toBoundary);
        } else {
            line = HexRecord(0x00, static_cast<std::uint16_t>(address), image.data() + from, n);
        }
        if (i == spoilt)
            SpoilChecksum(line);
        out += line;
    }
    out += HexRecord(0x01, 0, nullptr, 0);
    return out;
}
