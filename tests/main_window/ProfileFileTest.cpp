// The settings file format: reads, one-key writes that keep every other byte, the
// replace-by-rename write and its failures, and the parser over hostile texts.
#include "platform/ProfileFile.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct ReadCase
{
    const char* name;
    std::string text;
    const char* section;
    const char* key;
    std::optional<std::string> expected;
};

// Names a case in test listings instead of dumping its bytes.
void PrintTo(const ReadCase& c, std::ostream* os)
{
    *os << c.name;
}

class ProfileRead : public testing::TestWithParam<ReadCase>
{
};

TEST_P(ProfileRead, FindsTheCleanedValue)
{
    const ReadCase& c = GetParam();
    EXPECT_EQ(profile::FindValue(c.text, c.section, c.key), c.expected);
}

const std::string Long(3000, 'v');

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileRead,
    testing::Values(
        ReadCase{"Plain", "[SystemSection]\nPort=COM3\n", "SystemSection", "Port", "COM3"},
        ReadCase{"CaseOfNames", "[systemsection]\r\nPORT=COM3\r\n", "SystemSection", "Port",
                 "COM3"},
        ReadCase{"BlanksAroundNamesAndValue", "  [ SystemSection ]  \n  Port  =  COM3 \t\n",
                 "SystemSection", "Port", "COM3"},
        ReadCase{"DoubleQuotes", "[S]\nK=\" a b \"\n", "S", "K", " a b "},
        ReadCase{"SingleQuotes", "[S]\nK='x'\n", "S", "K", "x"},
        ReadCase{"OnlyOnePairOfQuotes", "[S]\nK=\"\"x\"\"\n", "S", "K", "\"x\""},
        ReadCase{"UnmatchedQuote", "[S]\nK=\"x\n", "S", "K", "\"x"},
        ReadCase{"EmptyValue", "[S]\nK=\n", "S", "K", ""},
        ReadCase{"ValueWithEquals", "[S]\nK=a=b\n", "S", "K", "a=b"},
        ReadCase{"LongValueCut", "[S]\nK=" + Long + "\n", "S", "K", std::string(2047, 'v')},
        ReadCase{"FirstKeyWins", "[S]\nK=1\nK=2\n", "S", "K", "1"},
        ReadCase{"FirstSectionWins", "[S]\nA=1\n[S]\nK=2\n", "S", "K", std::nullopt},
        ReadCase{"OtherSection", "[T]\nK=1\n", "S", "K", std::nullopt},
        ReadCase{"KeyBeforeAnySection", "K=1\n[S]\n", "S", "K", std::nullopt},
        ReadCase{"CommentedKey", "[S]\n;K=1\n", "S", "K", std::nullopt},
        ReadCase{"LastLineUnterminated", "[S]\nK=1", "S", "K", "1"},
        ReadCase{"EmptyText", "", "S", "K", std::nullopt},
        ReadCase{"HeaderWithoutBracket", "[S\nK=1\n", "S", "K", "1"}),
    [](const auto& info) { return info.param.name; });

TEST(ProfileReadSection, ListsKeysInOrderWithoutComments)
{
    const std::string text = "[SystemSection]\nPort=COM2\n[Ports]\n; a comment\nCOM2 = "
                             "/dev/pts/4\nnoise line\nCOM3=\"/dev/ttyUSB0\"\n[Other]\nX=1\n";
    const auto entries = profile::ReadSection(text, "ports");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0], (std::pair<AnsiString, AnsiString>{"COM2", "/dev/pts/4"}));
    EXPECT_EQ(entries[1], (std::pair<AnsiString, AnsiString>{"COM3", "/dev/ttyUSB0"}));
    EXPECT_TRUE(profile::ReadSection(text, "Missing").empty());
}

struct WriteCase
{
    const char* name;
    std::string before;
    const char* section;
    const char* key;
    const char* value;
    std::string after;
};

void PrintTo(const WriteCase& c, std::ostream* os)
{
    *os << c.name;
}

class ProfileWrite : public testing::TestWithParam<WriteCase>
{
};

TEST_P(ProfileWrite, ChangesOnlyTheKeysLine)
{
    const WriteCase& c = GetParam();
    EXPECT_EQ(profile::ReplaceValue(c.before, c.section, c.key, c.value), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileWrite,
    testing::Values(
        WriteCase{"EmptyFile", "", "SystemSection", "Port", "COM3", "[SystemSection]\nPort=COM3\n"},
        WriteCase{"ReplaceKeepsEverythingElse",
                  "; settings\r\n[Other]\r\nPort=x\r\n\r\n[systemsection]\r\n  port = COM1 "
                  "\r\nBaud=9600\r\n# end\r\n",
                  "SystemSection", "Port", "COM4",
                  "; settings\r\n[Other]\r\nPort=x\r\n\r\n[systemsection]\r\nPort=COM4\r\n"
                  "Baud=9600\r\n# end\r\n"},
        WriteCase{"AddAfterLastLineOfSection", "[S]\nA=1\n\n[T]\nB=2\n", "S", "K", "v",
                  "[S]\nA=1\nK=v\n\n[T]\nB=2\n"},
        WriteCase{"AddToEmptySection", "[S]\n[T]\n", "S", "K", "v", "[S]\nK=v\n[T]\n"},
        WriteCase{"AddSectionToUnterminatedFile", "[T]\r\nB=2", "S", "K", "v",
                  "[T]\r\nB=2\r\n[S]\r\nK=v\r\n"},
        WriteCase{"AddKeyAfterUnterminatedLastLine", "[S]\nA=1", "S", "K", "v", "[S]\nA=1\nK=v\n"},
        WriteCase{"ReplaceUnterminatedLastLine", "[S]\nK=1", "S", "K", "22", "[S]\nK=22"},
        WriteCase{"CommentedKeyStays", "[S]\n;K=1\n", "S", "K", "2", "[S]\n;K=1\nK=2\n"},
        WriteCase{"EmptyValue", "[S]\nK=1\n", "S", "K", "", "[S]\nK=\n"}),
    [](const auto& info) { return info.param.name; });

// Texts built to trip a parser: every read must end, and a write must keep the key readable
// and every other section's keys as they were.
TEST(ProfileHostileTexts, ParseAndRewriteSafely)
{
    std::vector<std::string> texts = {
        std::string("\0\0\0", 3),
        "[",
        "]",
        "=",
        "[]\n=\n[",
        "\r\r\r\n\n\r",
        "[S]\r",
        "[S]\nK",
        "[S]\nK=\"",
        "[S]\nK='",
        std::string("[S]\nK=a\0b\n", 10),
        "[S]]]\nK=1\n",
        "[[S]\nK=1\n",
        "  \t  [S]\t\nK\t=\t1\n",
        std::string(100000, '['),
        std::string(100000, '\n'),
        "[S]\n" + std::string(100000, '='),
        "[S]\nK=" + std::string(100000, '"'),
    };
    std::mt19937 random(12345);
    for (int i = 0; i < 200; ++i) {
        std::string text;
        const int length = int(random() % 200);
        const char alphabet[] = "[]=;#\"' \t\r\nSKsk1";
        if (i % 4 == 0)
            text += "[Other]\nX=1\n";
        for (int j = 0; j < length; ++j)
            text += alphabet[random() % (sizeof alphabet - 1)];
        texts.push_back(text);
    }
    for (const std::string& text : texts) {
        SCOPED_TRACE(testing::PrintToString(text.substr(0, 60)));
        const auto otherBefore = profile::ReadSection(text, "Other");
        const AnsiString updated = profile::ReplaceValue(text, "S", "K", "value");
        EXPECT_EQ(profile::FindValue(updated, "S", "K"), AnsiString("value"));
        EXPECT_EQ(profile::ReadSection(updated, "Other"), otherBefore);
        EXPECT_EQ(profile::ReplaceValue(updated, "S", "K", "value"), updated);
    }
}

// A fresh directory of its own for each test, removed afterwards.
class IniFileOnDisk : public testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/orvix-ini-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
        path = dir / "Uploader.ini";
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string Contents() const
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void Put(const std::string& text) const { std::ofstream(path, std::ios::binary) << text; }

    fs::path dir;
    fs::path path;
};

TEST_F(IniFileOnDisk, MissingFileGivesDefaultsAndIsCreatedByTheFirstWrite)
{
    TIniFile ini(path.string());
    EXPECT_EQ(ini.ReadString("SystemSection", "Port", "COM2"), "COM2");
    EXPECT_TRUE(ini.ReadSection("Ports").empty());
    EXPECT_FALSE(fs::exists(path));

    ini.WriteString("SystemSection", "Port", "COM3");
    EXPECT_EQ(Contents(), "[SystemSection]\nPort=COM3\n");
    EXPECT_EQ(ini.ReadString("systemsection", "PORT", "COM2"), "COM3");
}

TEST_F(IniFileOnDisk, WriteKeepsOtherLinesModeAndLeavesNoTemporaryFile)
{
    Put("; keep me\r\n[SystemSection]\r\nBaud=9600\r\n[Ports]\r\nCOM2=/dev/ttyUSB0\r\n");
    fs::permissions(path, fs::perms(0640));
    TIniFile ini(path.string());
    ini.WriteString("SystemSection", "Port", "COM1");
    ini.WriteString("SystemSection", "Baud", "1152");
    EXPECT_EQ(Contents(), "; keep me\r\n[SystemSection]\r\nBaud=1152\r\nPort=COM1\r\n[Ports]\r\n"
                          "COM2=/dev/ttyUSB0\r\n");
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms(0640));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(IniFileOnDisk, WriteThroughASymbolicLinkKeepsTheLink)
{
    const fs::path real = dir / "real.ini";
    std::ofstream(real) << "[S]\nK=1\n";
    fs::create_symlink("real.ini", path);
    TIniFile ini(path.string());
    ini.WriteString("S", "K", "2");
    EXPECT_TRUE(fs::is_symlink(path));
    EXPECT_EQ(ini.ReadString("S", "K", ""), "2");
}

// Failures that stop root as well as anyone: a missing directory, and a directory where the
// file should be.
TEST_F(IniFileOnDisk, FailedWriteRaisesUnableToWriteAndKeepsTheOldFile)
{
    struct Case
    {
        std::string path;
        std::string section, key, value;
    };
    fs::create_directory(dir / "adir.ini");
    Put("[S]\nK=old\n");
    const std::vector<Case> cases = {
        {(dir / "missing" / "Uploader.ini").string(), "S", "K", "v"},
        {(dir / "adir.ini").string(), "S", "K", "v"},
        {path.string(), "S", "K", "two\nlines"},
        {path.string(), "S", "K\r", "v"},
        {path.string(), "S]", "K", "v"},
        {path.string(), "S", "K=", "v"},
        {path.string(), "", "K", "v"},
        {path.string(), "S", " ", "v"},
        {path.string(), "S", "K", std::string("nul\0byte", 8)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + " " + c.section + "/" + c.key);
        TIniFile ini(c.path);
        try {
            ini.WriteString(c.section, c.key, c.value);
            ADD_FAILURE() << "no exception";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message, "Unable to write to " + c.path);
        }
    }
    EXPECT_EQ(Contents(), "[S]\nK=old\n");
    EXPECT_TRUE(fs::is_directory(dir / "adir.ini"));
}

} // namespace
