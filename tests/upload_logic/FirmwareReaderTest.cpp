// Reading a firmware file line by line as the transfer sends it, from real files.
#include "upload/FirmwareReader.h"

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <vector>

using namespace std::string_literals;
using upload::FirmwareReader;

namespace {

class FirmwareReaderTest : public testing::Test
{
protected:
    // Writes `bytes` to a fresh file and returns its path.
    AnsiString Write(const AnsiString& bytes)
    {
        const AnsiString path = dir.filePath("firmware.out").toStdString();
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        return path;
    }

    // Every line the transfer would read, up to the read that notices the end.
    std::vector<AnsiString> ReadAll(const AnsiString& bytes)
    {
        FirmwareReader reader;
        EXPECT_TRUE(reader.Open(Write(bytes)));
        std::vector<AnsiString> lines;
        while (!reader.AtEnd() && lines.size() < 1000)
            lines.push_back(reader.ReadLine());
        EXPECT_TRUE(reader.AtEnd());
        return lines;
    }

    QTemporaryDir dir;
};

using LineList = std::vector<AnsiString>;

TEST_F(FirmwareReaderTest, TextRules)
{
    const AnsiString line99(99, 'A');
    const AnsiString line100(100, 'B');
    const AnsiString line5000(5000, 'C');
    const struct
    {
        const char* what;
        AnsiString bytes;
        LineList lines;
    } cases[] = {
        {"empty file: one empty read", "", {""}},
        {"two CR LF lines: the end is noticed after them", "S0\r\nS9\r\n", {"S0", "S9", ""}},
        {"last line without line end", "S0\r\nS9", {"S0", "S9"}},
        {"LF-only lines", "a\nb\n", {"a", "b", ""}},
        {"CR dropped anywhere", "a\rb\r\r\nc\r", {"ab", "c"}},
        {"0x1A ends the data",
         "S0\r\nS9\x1A"
         "garbage\r\nmore\r\n",
         {"S0", "S9"}},
        {"0x1A at a line start", "S0\r\n\x1AS9\r\n", {"S0", ""}},
        {"text ends at a NUL, the line's rest is dropped", "ab\0cd\r\nef\r\n"s, {"ab", "ef", ""}},
        {"NUL at the start", "\0xyz\nq"s, {"", "q"}},
        {"empty lines are lines", "\r\n\r\n", {"", "", ""}},
        {"99 bytes with LF", line99 + "\n", {line99, ""}},
        {"99 bytes without line end", line99, {line99}},
        {"100 bytes with LF", line100 + "\r\n" + "x", {line100, "x"}},
        {"long line without line end", line5000, {line5000}},
        {"long lines in a row", line5000 + "\n" + line100 + "\n", {line5000, line100, ""}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadAll(c.bytes), c.lines) << c.what;
}

TEST_F(FirmwareReaderTest, LengthCountsTheStoredBytesAndKeepsThePosition)
{
    FirmwareReader reader;
    ASSERT_TRUE(reader.Open(Write("S0\r\nS9\x1A"
                                  "tail")));
    EXPECT_EQ(reader.Length(), 11);
    EXPECT_EQ(reader.ReadLine(), "S0");
    EXPECT_EQ(reader.Length(), 11);
    EXPECT_EQ(reader.ReadLine(), "S9");
    EXPECT_TRUE(reader.AtEnd());
    // Once the end is met every further read is empty.
    EXPECT_EQ(reader.ReadLine(), "");
}

TEST_F(FirmwareReaderTest, FilesThatCannotBeOpened)
{
    FirmwareReader reader;
    EXPECT_FALSE(reader.Open(dir.filePath("missing.out").toStdString()));
    EXPECT_EQ(reader.OpenError(), "No such file or directory");
    EXPECT_FALSE(reader.Open(dir.path().toStdString())) << "a directory";
    EXPECT_EQ(reader.OpenError(), "Is a directory");
    EXPECT_FALSE(reader.IsOpen());
}

TEST_F(FirmwareReaderTest, UnreadableFileCannotBeOpened)
{
    FirmwareReader reader;
    const AnsiString locked = Write("S0\r\n");
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    if (std::ifstream(locked).is_open())
        GTEST_SKIP() << "running with privileges that read any file";
    EXPECT_FALSE(reader.Open(locked)) << "no read permission";
    EXPECT_EQ(reader.OpenError(), "Permission denied");
    EXPECT_FALSE(reader.IsOpen());
}

} // namespace
