#include "cli/JsonLine.h"

#include <cmath>
#include <cstdio>

namespace cli {

std::string JsonString(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

JsonLine::JsonLine(std::string_view event)
{
    text_ = "{\"event\":";
    text_ += JsonString(event);
}

JsonLine& JsonLine::Raw(std::string_view key, std::string_view json)
{
    text_ += ',';
    text_ += JsonString(key);
    text_ += ':';
    text_ += json;
    return *this;
}

JsonLine& JsonLine::Add(std::string_view key, std::string_view value)
{
    return Raw(key, JsonString(value));
}

JsonLine& JsonLine::Add(std::string_view key, std::int64_t value)
{
    return Raw(key, std::to_string(value));
}

JsonLine& JsonLine::Add(std::string_view key, std::uint64_t value)
{
    return Raw(key, std::to_string(value));
}

JsonLine& JsonLine::Add(std::string_view key, double value)
{
    // JSON has no infinity or NaN.
    if (!std::isfinite(value))
        return Raw(key, "null");
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return Raw(key, text);
}

JsonLine& JsonLine::Add(std::string_view key, bool value)
{
    return Raw(key, value ? "true" : "false");
}

} // namespace cli
