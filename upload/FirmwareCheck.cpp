#include "upload/FirmwareCheck.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <iterator>
#include <map>
#include <optional>

// The record rules are written out here rather than taken from a library: Debian's srecord
// is a set of programs, not a library, and the check must report the first fault by its line
// in our own words. The simulator has a parser of its own on purpose, so that the two sides
// stay independent models of the format.

namespace upload {

namespace {

constexpr char EndOfData = 0x1A;

constexpr std::array<signed char, 256> HexValues = [] {
    std::array<signed char, 256> table{};
    for (auto& value : table)
        value = -1;
    for (int c = '0'; c <= '9'; ++c)
        table[std::size_t(c)] = static_cast<signed char>(c - '0');
    for (int c = 'A'; c <= 'F'; ++c)
        table[std::size_t(c)] = static_cast<signed char>(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c)
        table[std::size_t(c)] = static_cast<signed char>(c - 'a' + 10);
    return table;
}();

std::string Hex(std::uint64_t value, int digits)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// A line as the transfer sends it and the unit reads it: CRs dropped, trailing blanks cut.
std::string_view CleanLine(std::string_view raw, std::string& scratch)
{
    if (raw.find('\r') != std::string_view::npos) {
        scratch.clear();
        for (const char c : raw)
            if (c != '\r')
                scratch.push_back(c);
        raw = scratch;
    }
    while (!raw.empty() && IsBlank(raw.back()))
        raw.remove_suffix(1);
    return raw;
}

// Calls `visit(number, line)` for each line of `data` (split at LF, the LF not included),
// numbered from 1; stops early when `visit` returns false.
template <typename Visit> void ForEachLine(std::string_view data, Visit visit)
{
    std::uint64_t number = 0;
    std::size_t from = 0;
    while (from < data.size()) {
        std::size_t end = data.find('\n', from);
        if (end == std::string_view::npos)
            end = data.size();
        if (!visit(++number, data.substr(from, end - from)))
            return;
        from = end + 1;
    }
}

enum class Kind
{
    Header,
    Data,
    Count,
    End,
    Base,  // Intel HEX 02 and 04: a new base address for the data that follow
    Start, // Intel HEX 03 and 05: a start address, nothing loaded
};

struct Parsed
{
    Kind kind = Kind::Data;
    std::uint64_t value = 0; // data: load address (Intel HEX: offset); count; base
    std::size_t dataBytes = 0;
};

// The record's bytes after its type, decoded from hex pairs; at most 256 of them (a byte
// count of 255 and the count itself).
struct RecordBytes
{
    std::array<std::uint8_t, 261> bytes{};
    std::size_t size = 0;
};

std::optional<std::string> Decode(std::string_view hex, RecordBytes& out)
{
    if (hex.size() % 2 != 0)
        return "an odd number of hex digits";
    if (hex.size() / 2 > out.bytes.size())
        return "the record is longer than its byte count";
    out.size = hex.size() / 2;
    for (std::size_t i = 0; i < out.size; ++i) {
        const int hi = HexValues[static_cast<unsigned char>(hex[2 * i])];
        const int lo = HexValues[static_cast<unsigned char>(hex[2 * i + 1])];
        if (hi < 0 || lo < 0) {
            const unsigned char bad = static_cast<unsigned char>(hex[hi < 0 ? 2 * i : 2 * i + 1]);
            return "a character that is not a hex digit (" + Hex(bad, 2) + ")";
        }
        out.bytes[i] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    return std::nullopt;
}

std::uint64_t BigEndian(const std::uint8_t* bytes, std::size_t n)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < n; ++i)
        value = (value << 8) | bytes[i];
    return value;
}

std::string ChecksumMismatch(unsigned stated, unsigned computed)
{
    return "checksum mismatch (the record says " + Hex(stated, 2) + ", its bytes give " +
           Hex(computed, 2) + ")";
}

std::optional<std::string> ParseSRecord(std::string_view line, Parsed& record)
{
    if (line.size() < 4)
        return "the record is too short";
    const char type = line[1];
    // Address bytes by record type; S4 is reserved.
    static constexpr int AddressBytes[10] = {2, 2, 3, 4, -1, 2, 3, 4, 3, 2};
    if (type < '0' || type > '9' || AddressBytes[type - '0'] < 0)
        return std::string("unknown record type S") + type;
    RecordBytes b;
    if (auto error = Decode(line.substr(2), b))
        return error;
    const std::size_t count = b.bytes[0];
    if (b.size - 1 < count)
        return "the record is shorter than its byte count";
    if (b.size - 1 > count)
        return "the record is longer than its byte count";
    const auto addressBytes = static_cast<std::size_t>(AddressBytes[type - '0']);
    if (count < addressBytes + 1)
        return std::string("the byte count is too small for an S") + type + " record";
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < b.size; ++i)
        sum += b.bytes[i];
    const unsigned computed = ~sum & 0xFFu;
    if (computed != b.bytes[b.size - 1])
        return ChecksumMismatch(b.bytes[b.size - 1], computed);
    record.value = BigEndian(&b.bytes[1], addressBytes);
    record.dataBytes = count - addressBytes - 1;
    switch (type) {
    case '0':
        record.kind = Kind::Header;
        return std::nullopt;
    case '1':
    case '2':
    case '3':
        record.kind = Kind::Data;
        return std::nullopt;
    case '5':
    case '6':
        record.kind = Kind::Count;
        break;
    default:
        record.kind = Kind::End;
        break;
    }
    if (record.dataBytes != 0)
        return std::string("unexpected data in an S") + type + " record";
    return std::nullopt;
}

std::optional<std::string> ParseIntelHex(std::string_view line, Parsed& record)
{
    RecordBytes b;
    if (auto error = Decode(line.substr(1), b))
        return error;
    if (b.size < 5)
        return "the record is too short";
    const std::size_t count = b.bytes[0];
    if (b.size < count + 5)
        return "the record is shorter than its byte count";
    if (b.size > count + 5)
        return "the record is longer than its byte count";
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < b.size; ++i)
        sum += b.bytes[i];
    const unsigned computed = (0x100u - (sum & 0xFFu)) & 0xFFu;
    if (computed != b.bytes[b.size - 1])
        return ChecksumMismatch(b.bytes[b.size - 1], computed);
    const unsigned type = b.bytes[3];
    const std::uint8_t* data = &b.bytes[4];
    // Required data length of each type other than data.
    std::size_t needed = 0;
    switch (type) {
    case 0x00:
        record.kind = Kind::Data;
        record.value = BigEndian(&b.bytes[1], 2);
        record.dataBytes = count;
        return std::nullopt;
    case 0x01:
        record.kind = Kind::End;
        needed = 0;
        break;
    case 0x02:
    case 0x04:
        record.kind = Kind::Base;
        needed = 2;
        break;
    case 0x03:
    case 0x05:
        record.kind = Kind::Start;
        needed = 4;
        break;
    default:
        return "unknown record type " + Hex(type, 2);
    }
    if (count != needed)
        return "wrong length for record type " + Hex(type, 2);
    if (type == 0x02)
        record.value = BigEndian(data, 2) << 4;
    else if (type == 0x04)
        record.value = BigEndian(data, 2) << 16;
    return std::nullopt;
}

// The address ranges loaded so far: runs of contiguous records, keyed by their first address.
class AddressMap
{
public:
    // Adds [from, to) given on `line`; the text of the overlap when it meets earlier data.
    std::optional<std::string> Add(std::uint64_t from, std::uint64_t to, std::uint64_t line)
    {
        auto next = runs_.upper_bound(from);
        const auto overlap = [&](const Run& run) {
            const std::string lines =
                run.firstLine == run.lastLine
                    ? "line " + std::to_string(run.firstLine)
                    : "lines " + std::to_string(run.firstLine) + "-" + std::to_string(run.lastLine);
            return "addresses " + Hex(from, 8) + "-" + Hex(to - 1, 8) + " overlap the data of " +
                   lines;
        };
        if (next != runs_.end() && next->first < to)
            return overlap(next->second);
        if (next != runs_.begin()) {
            Run& previous = std::prev(next)->second;
            if (previous.end > from)
                return overlap(previous);
            if (previous.end == from) {
                previous.end = to;
                previous.lastLine = line;
                return std::nullopt;
            }
        }
        runs_.emplace_hint(next, from, Run{to, line, line});
        return std::nullopt;
    }

private:
    struct Run
    {
        std::uint64_t end;
        std::uint64_t firstLine;
        std::uint64_t lastLine;
    };
    std::map<std::uint64_t, Run> runs_;
};

FirmwareCheckResult Failure(std::uint64_t line, std::string reason)
{
    FirmwareCheckResult result;
    result.ok = false;
    result.line = line;
    result.reason = std::move(reason);
    return result;
}

// The bytes an editor may put before the first line of a UTF-8 file; the unit would take
// them for the first record's lead character.
constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";

// Whether a line is meant as a record of either format: 'S' and a type digit, or ':' and a hex
// digit. A damaged record still counts, so that its fault is named; a note or a comment does not.
bool LooksLikeRecord(std::string_view line)
{
    if (line.size() < 2)
        return false;
    if (line[0] == 'S')
        return line[1] >= '0' && line[1] <= '9';
    return line[0] == ':' && HexValues[static_cast<unsigned char>(line[1])] >= 0;
}

// The format of the data: a record format when most non-blank lines look like records (the
// first of them names the format), so that a stray line is found by the check rather than
// turning the check off. A byte-order mark before the first line does not decide it either.
// How many of a file's first non-empty lines decide whether it is a record file: enough that a
// few notes among them (a header comment, a byte-order mark) do not, few enough that the format
// costs nothing beside the check.
constexpr std::uint64_t FormatSampleLines = 64;

FirmwareFormat DetectFormat(std::string_view data)
{
    FirmwareFormat format = FirmwareFormat::Other;
    std::uint64_t records = 0;
    std::uint64_t others = 0;
    std::string scratch;
    ForEachLine(data, [&](std::uint64_t number, std::string_view raw) {
        std::string_view line = CleanLine(raw, scratch);
        if (number == 1 && line.substr(0, ByteOrderMark.size()) == ByteOrderMark)
            line.remove_prefix(ByteOrderMark.size());
        if (line.empty())
            return true;
        if (!LooksLikeRecord(line)) {
            ++others;
            return records + others < FormatSampleLines;
        }
        ++records;
        if (format == FirmwareFormat::Other)
            format = line[0] == 'S' ? FirmwareFormat::SRecord : FirmwareFormat::IntelHex;
        // The first lines decide: the check that follows reads every line anyway.
        return records + others < FormatSampleLines;
    });
    return records > others ? format : FirmwareFormat::Other;
}

} // namespace

std::string FirmwareCheckResult::FailureText() const
{
    if (ok)
        return {};
    return line == 0 ? reason : "line " + std::to_string(line) + ": " + reason;
}

std::string FirmwareCheckResult::UncheckedText() const
{
    if (!ok || facts.format != FirmwareFormat::Other)
        return {};
    return "File not checked: not S-record or Intel HEX";
}

FirmwareCheckResult CheckFirmware(std::string_view bytes)
{
    if (bytes.empty())
        return Failure(0, "the file is empty");
    if (bytes.find('\0') != std::string_view::npos ||
        (bytes.size() >= TextProbeBytes &&
         bytes.substr(0, TextProbeBytes).find('\n') == std::string_view::npos))
        return Failure(0, "the file is not a text file");

    // A 0x1A ends the data as the transfer reads it; what follows it is lost unless it is
    // nothing but more end marks and line ends (the old end-of-file mark of DOS editors).
    const std::size_t endMark = std::min(bytes.find(EndOfData), bytes.size());
    const std::string_view data = bytes.substr(0, endMark);
    const std::string_view tail = bytes.substr(endMark);
    const bool tailHolds =
        tail.find_first_not_of(std::string_view("\x1A\r\n \t", 5)) != std::string_view::npos;

    FirmwareCheckResult result;
    FirmwareFacts& facts = result.facts;
    facts.format = DetectFormat(data);
    if (facts.format == FirmwareFormat::Other)
        return result;

    const char lead = facts.format == FirmwareFormat::SRecord ? 'S' : ':';
    AddressMap addresses;
    std::uint64_t dataRecords = 0;
    std::uint64_t base = 0;
    std::uint64_t lastLine = 0;
    std::uint64_t endLine = 0;
    // The line that holds the mark, when something follows it.
    const std::uint64_t markLine =
        tailHolds ? std::uint64_t(std::count(data.begin(), data.end(), '\n')) + 1 : 0;
    const auto markFailure = [&] {
        return Failure(markLine, "a byte 0x1A ends the data here, so the rest of the file "
                                 "would never be sent");
    };
    std::string scratch;
    ForEachLine(data, [&](std::uint64_t number, std::string_view raw) {
        if (number == markLine) {
            result = markFailure();
            return false;
        }
        const std::string_view line = CleanLine(raw, scratch);
        if (number == 1 && line.substr(0, ByteOrderMark.size()) == ByteOrderMark) {
            result = Failure(number, "UTF-8 byte-order mark");
            return false;
        }
        if (line.empty())
            return true;
        lastLine = number;
        if (!LooksLikeRecord(line)) {
            result = Failure(number, "not a record");
            return false;
        }
        if (endLine != 0) {
            result = Failure(number, "a record after the end record (line " +
                                         std::to_string(endLine) + ")");
            return false;
        }
        if (line[0] != lead) {
            result = Failure(number, facts.format == FirmwareFormat::SRecord
                                         ? "an Intel HEX record in an S-record file"
                                         : "an S-record in an Intel HEX file");
            return false;
        }
        Parsed record;
        if (auto error = lead == 'S' ? ParseSRecord(line, record) : ParseIntelHex(line, record)) {
            result = Failure(number, *error);
            return false;
        }
        ++facts.records;
        switch (record.kind) {
        case Kind::Data:
            ++dataRecords;
            if (record.dataBytes > 0) {
                const std::uint64_t from = base + record.value;
                const std::uint64_t to = from + record.dataBytes;
                if (auto overlap = addresses.Add(from, to, number)) {
                    result = Failure(number, *overlap);
                    return false;
                }
                facts.lowest = facts.imageBytes == 0 ? from : std::min(facts.lowest, from);
                facts.highest = facts.imageBytes == 0 ? to - 1 : std::max(facts.highest, to - 1);
                facts.imageBytes += record.dataBytes;
            }
            break;
        case Kind::Count:
            if (record.value != dataRecords) {
                result =
                    Failure(number, std::string("S") + line[1] + " count " +
                                        std::to_string(record.value) + " does not match the " +
                                        std::to_string(dataRecords) + " data records before it");
                return false;
            }
            break;
        case Kind::End:
            endLine = number;
            break;
        case Kind::Base:
            base = record.value;
            break;
        case Kind::Header:
        case Kind::Start:
            break;
        }
        return true;
    });
    if (!result.ok)
        return result;
    if (tailHolds)
        return markFailure();
    if (endLine == 0)
        return Failure(lastLine, lead == 'S' ? "the file has no end record (S7, S8 or S9)"
                                             : "the file has no end record (type 01)");
    return result;
}

std::string FirmwareFactsText(const FirmwareFacts& facts, std::string_view sha256Hex)
{
    std::string text =
        facts.format == FirmwareFormat::SRecord ? "S-record file, " : "Intel HEX file, ";
    text += std::to_string(facts.records) + " records, ";
    if (facts.imageBytes > 0)
        text += "addresses " + Hex(facts.lowest, 8) + "-" + Hex(facts.highest, 8) + ", ";
    text += std::to_string(facts.imageBytes) + " image bytes, SHA-256 ";
    text.append(sha256Hex);
    return text;
}

} // namespace upload
