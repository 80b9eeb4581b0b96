// Text to signed 32-bit integer with the rules of the class library's conversion, which the
// line-speed box relies on: the operator may type a decimal or a hexadecimal number.
#pragma once

#include "platform/Exception.h"

#include <cstdint>
#include <optional>

// Leading blanks (spaces) are skipped; then come either an optional sign and decimal digits
// (-2147483648 to 2147483647), or hexadecimal digits (either case) after "$", "x", "X",
// "0x" or "0X" (up to FFFFFFFF, taken as the two's complement 32-bit value, so FFFFFFFF is
// -1). Anything else - an empty text, no digits, any other character including a trailing
// blank, a value out of range - gives nothing.
std::optional<std::int32_t> TryStrToInt(const AnsiString& text);

// TryStrToInt, or `defaultValue` when the text is not a valid integer.
std::int32_t StrToIntDef(const AnsiString& text, std::int32_t defaultValue);

// The line speed the line-speed box's text asks for: the text converted, 115200 when it is
// not a valid integer, and 9600 when the result is below 2.
std::int32_t BaudFromText(const AnsiString& text);
