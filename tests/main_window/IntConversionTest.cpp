// The line-speed box's conversion of text to an integer, and the speed it asks for.
#include "app/IntConversion.h"

#include <gtest/gtest.h>

namespace {

struct Case
{
    std::string text;
    std::optional<std::int32_t> value;
    std::int32_t baud;
};

TEST(IntConversion, ConvertsAsTheClassLibraryDoes)
{
    const std::vector<Case> cases = {
        {"115200", 115200, 115200},
        {"9600", 9600, 9600},
        {"1152", 1152, 1152},
        {"   57600", 57600, 57600},
        {"+19200", 19200, 19200},
        {"0019200", 19200, 19200},
        {"2", 2, 2},
        {"1", 1, 9600},
        {"0", 0, 9600},
        {"-5", -5, 9600},
        {"-0", 0, 9600},
        {"2147483647", 2147483647, 2147483647},
        {"-2147483648", std::numeric_limits<std::int32_t>::min(), 9600},
        {"2147483648", std::nullopt, 115200},
        {"-2147483649", std::nullopt, 115200},
        {"99999999999999999999999", std::nullopt, 115200},
        {"$1C200", 115200, 115200},
        {"x1c200", 115200, 115200},
        {"X1C200", 115200, 115200},
        {"0x2580", 9600, 9600},
        {"0X2580", 9600, 9600},
        {"  $ff", 255, 255},
        {"$7FFFFFFF", 2147483647, 2147483647},
        {"$FFFFFFFF", -1, 9600},
        {"$80000000", std::numeric_limits<std::int32_t>::min(), 9600},
        {"$100000000", std::nullopt, 115200},
        {"$", std::nullopt, 115200},
        {"0x", std::nullopt, 115200},
        {"-$10", std::nullopt, 115200},
        {"$1G", std::nullopt, 115200},
        {"", std::nullopt, 115200},
        {"   ", std::nullopt, 115200},
        {"-", std::nullopt, 115200},
        {"+", std::nullopt, 115200},
        {"abc", std::nullopt, 115200},
        {"9600 ", std::nullopt, 115200},
        {"\t9600", std::nullopt, 115200},
        {"96 00", std::nullopt, 115200},
        {"1e3", std::nullopt, 115200},
        {"12.5", std::nullopt, 115200},
        {"--5", std::nullopt, 115200},
        {std::string("96\0"
                     "00",
                     5),
         std::nullopt, 115200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("text \"" + c.text + "\"");
        EXPECT_EQ(TryStrToInt(c.text), c.value);
        EXPECT_EQ(StrToIntDef(c.text, 115200), c.value.value_or(115200));
        EXPECT_EQ(BaudFromText(c.text), c.baud);
    }
}

} // namespace
