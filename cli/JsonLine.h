// One JSON object on one line, built field by field. Written by hand: the standard library
// has no JSON writer, and the command's events need only flat objects of strings, numbers
// and booleans, so a library would bring a dependency for a few lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cli {

// `text` as a JSON string, quotes included: quote, backslash and every control character
// escaped; other bytes (UTF-8) passed on as they are.
std::string JsonString(std::string_view text);

class JsonLine
{
public:
    explicit JsonLine(std::string_view event);
    JsonLine& Add(std::string_view key, std::string_view value);
    JsonLine& Add(std::string_view key, const char* value)
    {
        return Add(key, std::string_view(value));
    }
    JsonLine& Add(std::string_view key, std::int64_t value);
    JsonLine& Add(std::string_view key, std::uint64_t value);
    JsonLine& Add(std::string_view key, int value) { return Add(key, std::int64_t(value)); }
    JsonLine& Add(std::string_view key, double value);
    JsonLine& Add(std::string_view key, bool value);
    // The object's text, without a line end.
    std::string Text() const { return text_ + "}"; }

private:
    JsonLine& Raw(std::string_view key, std::string_view json);
    std::string text_;
};

} // namespace cli
