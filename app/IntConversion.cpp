#include "app/IntConversion.h"

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<std::int32_t> TryStrToInt(const AnsiString& text)
{
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;

    bool hex = false;
    if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        hex = true;
        i += 1;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }

    if (hex) {
        if (i == text.size())
            return std::nullopt;
        std::uint64_t value = 0;
        for (; i < text.size(); ++i) {
            const int digit = HexDigit(text[i]);
            if (digit < 0)
                return std::nullopt;
            value = value * 16 + std::uint64_t(digit);
            if (value > 0xFFFFFFFFu)
                return std::nullopt;
        }
        return std::int32_t(std::uint32_t(value));
    }

    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    const std::uint64_t limit = negative ? 2147483648u : 2147483647u;
    std::uint64_t value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        value = value * 10 + std::uint64_t(text[i] - '0');
        if (value > limit)
            return std::nullopt;
    }
    return negative ? std::int32_t(-std::int64_t(value)) : std::int32_t(value);
}

std::int32_t StrToIntDef(const AnsiString& text, std::int32_t defaultValue)
{
    return TryStrToInt(text).value_or(defaultValue);
}

std::int32_t BaudFromText(const AnsiString& text)
{
    const std::int32_t value = StrToIntDef(text, 115200);
    return value < 2 ? 9600 : value;
}
