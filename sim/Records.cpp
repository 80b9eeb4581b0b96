#include "sim/Records.h"

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Decodes pairs of hex digits; false on an odd count or a character that is not hex.
bool DecodeHex(std::string_view text, std::vector<std::uint8_t>& bytes, std::string& error)
{
    if (text.size() % 2 != 0) {
        error = "odd number of hex digits";
        return false;
    }
    bytes.clear();
    bytes.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = HexDigit(text[i]);
        const int lo = HexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) {
            error = "character that is not a hex digit";
            return false;
        }
        bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    return true;
}

std::uint32_t BigEndian(const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t n)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < n; ++i)
        value = (value << 8) | bytes[from + i];
    return value;
}

bool ParseSRecord(std::string_view line, Record& record, std::string& error)
{
    if (line.size() < 4) {
        error = "truncated record";
        return false;
    }
    const char type = line[1];
    // Address width in bytes by record type; S4 is reserved.
    static constexpr int kAddressBytes[10] = {2, 2, 3, 4, -1, 2, 3, 4, 3, 2};
    if (type < '0' || type > '9' || kAddressBytes[type - '0'] < 0) {
        error = std::string("unknown record type S") + type;
        return false;
    }
    std::vector<std::uint8_t> bytes;
    if (!DecodeHex(line.substr(2), bytes, error))
        return false;
    const std::size_t count = bytes[0];
    if (bytes.size() - 1 < count) {
        error = "truncated record";
        return false;
    }
    if (bytes.size() - 1 > count) {
        error = "record longer than its byte count";
        return false;
    }
    const auto addressBytes = static_cast<std::size_t>(kAddressBytes[type - '0']);
    if (count < addressBytes + 1) {
        error = "byte count too small for the record type";
        return false;
    }
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i)
        sum += bytes[i];
    if (static_cast<std::uint8_t>(~sum) != bytes.back()) {
        error = "checksum mismatch";
        return false;
    }
    record.intelHex = false;
    record.value = BigEndian(bytes, 1, addressBytes);
    record.data.assign(bytes.begin() + 1 + static_cast<std::ptrdiff_t>(addressBytes),
                       bytes.end() - 1);
    switch (type) {
    case '0':
        record.kind = RecordKind::Header;
        break;
    case '1':
    case '2':
    case '3':
        record.kind = RecordKind::Data;
        break;
    case '5':
    case '6':
        record.kind = RecordKind::Count;
        break;
    default:
        record.kind = RecordKind::End;
        break;
    }
    if (record.kind != RecordKind::Data && record.kind != RecordKind::Header &&
        !record.data.empty()) {
        error = "unexpected data in the record";
        return false;
    }
    return true;
}

bool ParseIntelHex(std::string_view line, Record& record, std::string& error)
{
    std::vector<std::uint8_t> bytes;
    if (!DecodeHex(line.substr(1), bytes, error))
        return false;
    if (bytes.size() < 5) {
        error = "truncated record";
        return false;
    }
    const std::size_t count = bytes[0];
    if (bytes.size() < count + 5) {
        error = "truncated record";
        return false;
    }
    if (bytes.size() > count + 5) {
        error = "record longer than its byte count";
        return false;
    }
    unsigned sum = 0;
    for (const std::uint8_t b : bytes)
        sum += b;
    if ((sum & 0xFF) != 0) {
        error = "checksum mismatch";
        return false;
    }
    const std::uint32_t offset = BigEndian(bytes, 1, 2);
    const int type = bytes[3];
    record.intelHex = true;
    record.data.assign(bytes.begin() + 4, bytes.end() - 1);
    // Required data length for each type other than data (-1: any).
    int needed = -1;
    switch (type) {
    case 0x00:
        record.kind = RecordKind::Data;
        record.value = offset;
        break;
    case 0x01:
        record.kind = RecordKind::End;
        record.value = 0;
        needed = 0;
        break;
    case 0x02:
        record.kind = RecordKind::SegmentBase;
        needed = 2;
        break;
    case 0x03:
    case 0x05:
        record.kind = RecordKind::StartAddress;
        needed = 4;
        break;
    case 0x04:
        record.kind = RecordKind::LinearBase;
        needed = 2;
        break;
    default:
        error = "unknown record type " + std::to_string(type);
        return false;
    }
    if (needed >= 0 && record.data.size() != static_cast<std::size_t>(needed)) {
        error = "wrong length for record type " + std::to_string(type);
        return false;
    }
    if (record.kind == RecordKind::SegmentBase)
        record.value = BigEndian(record.data, 0, 2) << 4;
    else if (record.kind == RecordKind::LinearBase)
        record.value = BigEndian(record.data, 0, 2) << 16;
    else if (record.kind == RecordKind::StartAddress)
        record.value = BigEndian(record.data, 0, 4);
    if (record.kind != RecordKind::Data)
        record.data.clear();
    return true;
}

std::string_view TrimEnd(std::string_view line)
{
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
        line.remove_suffix(1);
    return line;
}

} // namespace

bool LooksLikeRecord(std::string_view line)
{
    if (line.empty())
        return false;
    if (line[0] == ':')
        return true;
    return line.size() >= 2 && line[0] == 'S' && line[1] >= '0' && line[1] <= '9';
}

bool ParseRecord(std::string_view line, Record& record, std::string& error)
{
    line = TrimEnd(line);
    if (!line.empty() && line[0] == 'S')
        return ParseSRecord(line, record, error);
    if (!line.empty() && line[0] == ':')
        return ParseIntelHex(line, record, error);
    error = "not a record";
    return false;
}
