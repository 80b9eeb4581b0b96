// The firmware check: files refused before the unit is touched, with the line and the reason,
// and the figures of a sound file.
#include "upload/FirmwareCheck.h"

#include <gtest/gtest.h>
#include <string>

using namespace std::string_literals;
using upload::CheckFirmware;
using upload::FirmwareFormat;

namespace {

// Small sound files: S19 with a header, two data records, a count and the end record;
// Intel HEX with a linear base, two data records, a start address and the end record.
const std::string SRecords = "S00600004844521B\r\n"
                             "S107000001020304EE\r\n"
                             "S107000405060708DA\r\n"
                             "S5030002FA\r\n"
                             "S9030000FC\r\n";
const std::string IntelHex = ":020000040001F9\n"
                             ":0400000001020304F2\n"
                             ":0400040005060708DE\n"
                             ":0400000500010000F6\n"
                             ":00000001FF\n";

std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    text.replace(text.find(from), from.size(), to);
    return text;
}

TEST(FirmwareCheck, SoundFilesPassWithTheirFigures)
{
    const auto s = CheckFirmware(SRecords);
    ASSERT_TRUE(s.ok) << s.FailureText();
    EXPECT_EQ(s.facts.format, FirmwareFormat::SRecord);
    EXPECT_EQ(s.facts.records, 5u);
    EXPECT_EQ(s.facts.imageBytes, 8u);
    EXPECT_EQ(s.facts.lowest, 0u);
    EXPECT_EQ(s.facts.highest, 7u);
    EXPECT_EQ(upload::FirmwareFactsText(s.facts, "ab12"),
              "S-record file, 5 records, addresses 0x00000000-0x00000007, 8 image bytes, "
              "SHA-256 ab12");

    const auto i = CheckFirmware(IntelHex);
    ASSERT_TRUE(i.ok) << i.FailureText();
    EXPECT_EQ(i.facts.format, FirmwareFormat::IntelHex);
    EXPECT_EQ(i.facts.records, 5u);
    EXPECT_EQ(i.facts.lowest, 0x10000u);
    EXPECT_EQ(i.facts.highest, 0x10007u);
}

TEST(FirmwareCheck, FilesOfOtherFormatsAreNotLookedIntoButSaySo)
{
    for (const std::string& text :
         {"hello\r\nworld\r\n"s, "S1 is fine\nbut this line is not\n"s, "\r\n\r\n"s,
          "one line without a line end"s, "\xEF\xBB\xBFnotes\n"s,
          "; notes\nS9030000FC\n; on a record\n"s}) {
        SCOPED_TRACE(text);
        const auto r = CheckFirmware(text);
        EXPECT_TRUE(r.ok) << r.FailureText();
        EXPECT_EQ(r.facts.format, FirmwareFormat::Other);
        EXPECT_EQ(r.UncheckedText(), "File not checked: not S-record or Intel HEX");
    }
    // A checked file and a refused one say nothing of the kind.
    EXPECT_EQ(CheckFirmware(SRecords).UncheckedText(), "");
    EXPECT_EQ(CheckFirmware("").UncheckedText(), "");
}

TEST(FirmwareCheck, RefusedFilesNameTheLineAndTheReason)
{
    const struct
    {
        const char* name;
        std::string bytes;
        std::string failure;
    } cases[] = {
        {"empty", "", "the file is empty"},
        {"NUL byte in any file", "hello\0world\n"s, "the file is not a text file"},
        {"no line end in the first 64 KiB", std::string(64 * 1024, 'A'),
         "the file is not a text file"},
        {"bad checksum", Replace(SRecords, "0304EE", "0304EF"),
         "line 2: checksum mismatch (the record says 0xEF, its bytes give 0xEE)"},
        {"bad Intel HEX checksum", Replace(IntelHex, "0708DE", "0708DF"),
         "line 3: checksum mismatch (the record says 0xDF, its bytes give 0xDE)"},
        {"not hex", Replace(SRecords, "S1070004", "S10700G4"),
         "line 3: a character that is not a hex digit (0x47)"},
        {"odd digit count", Replace(SRecords, "S5030002FA", "S5030002F"),
         "line 4: an odd number of hex digits"},
        {"short record", Replace(SRecords, "S107000405060708DA", "S107000405065E"),
         "line 3: the record is shorter than its byte count"},
        {"long record", Replace(IntelHex, ":00000001FF", ":0000000100FF"),
         "line 5: the record is longer than its byte count"},
        {"reserved type", Replace(SRecords, "S5030002FA", "S4030002FA"),
         "line 4: unknown record type S4"},
        {"wrong count", Replace(SRecords, "S5030002FA", "S5030003F9"),
         "line 4: S5 count 3 does not match the 2 data records before it"},
        {"no end record", Replace(SRecords, "S9030000FC\r\n", ""),
         "line 4: the file has no end record (S7, S8 or S9)"},
        {"record after the end", SRecords + "S1070008090A0B0CC6\r\n",
         "line 6: a record after the end record (line 5)"},
        {"overlapping addresses", Replace(SRecords, "S107000405060708DA", "S107000205060708DC"),
         "line 3: addresses 0x00000002-0x00000005 overlap the data of line 2"},
        {"mixed formats", Replace(SRecords, "S5030002FA", ":00000001FF"),
         "line 4: an Intel HEX record in an S-record file"},
        {"0x1A before the rest", Replace(SRecords, "S5030002FA", "S5030002FA\x1A"),
         "line 4: a byte 0x1A ends the data here, so the rest of the file would never be sent"},
        // A line that is not a record no longer turns the check off: it is named.
        {"byte-order mark", "\xEF\xBB\xBF" + SRecords, "line 1: UTF-8 byte-order mark"},
        {"byte-order mark, Intel HEX", "\xEF\xBB\xBF" + IntelHex, "line 1: UTF-8 byte-order mark"},
        {"editor's note appended", SRecords + "checked by the line lead, Monday\r\n",
         "line 6: not a record"},
        {"comment line", Replace(SRecords, "S5030002FA", "; count record\r\nS5030002FA"),
         "line 4: not a record"},
        {"damaged first character", Replace(SRecords, "S107000405060708DA", "X107000405060708DA"),
         "line 3: not a record"},
        {"damaged Intel HEX start", Replace(IntelHex, ":0400040005060708DE", ";0400040005060708DE"),
         "line 3: not a record"},
        {"0x1A at a line's start", Replace(SRecords, "S5030002FA", "\x1AS5030002FA"),
         "line 4: a byte 0x1A ends the data here, so the rest of the file would never be sent"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto r = CheckFirmware(c.bytes);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.FailureText(), c.failure);
    }
}

TEST(FirmwareCheck, AnEndOfFileMarkWithNothingAfterItLosesNothing)
{
    EXPECT_TRUE(CheckFirmware(SRecords + "\x1A").ok);
    EXPECT_TRUE(CheckFirmware(SRecords + "\x1A\r\n\x1A").ok);
    // Blank lines and trailing blanks are ignored, as the unit ignores them.
    EXPECT_TRUE(CheckFirmware(Replace(SRecords, "S5030002FA\r\n", "S5030002FA  \r\n\r\n")).ok);
}

TEST(FirmwareCheck, RecordsOutOfOrderAreFineUntilTheyOverlap)
{
    const std::string reversed = "S107000405060708DA\nS107000001020304EE\nS9030000FC\n";
    EXPECT_TRUE(CheckFirmware(reversed).ok);
    const auto r = CheckFirmware("S107000405060708DA\nS107000001020304EE\n"
                                 "S107000205060708DC\nS9030000FC\n");
    // It meets both earlier records; the one above it is named.
    EXPECT_EQ(r.FailureText(),
              "line 3: addresses 0x00000002-0x00000005 overlap the data of line 1");
}

} // namespace
