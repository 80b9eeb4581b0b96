// Record parsing and the download's handling of addresses and counts.
#include "sim/Records.h"

#include "sim/Download.h"

#include <gtest/gtest.h>

namespace {

struct GoodCase
{
    const char* line;
    RecordKind kind;
    std::uint32_t value;
    std::vector<std::uint8_t> data;
};

TEST(SimRecords, ParsesValidRecordsOfEveryKind)
{
    const GoodCase cases[] = {
        {"S00600004844521B", RecordKind::Header, 0, {'H', 'D', 'R'}},
        {"S1070010AABBCCDDDA", RecordKind::Data, 0x0010, {0xAA, 0xBB, 0xCC, 0xDD}},
        {"S20601234501028D", RecordKind::Data, 0x012345, {0x01, 0x02}},
        {"S3070A0B0C0D112297", RecordKind::Data, 0x0A0B0C0D, {0x11, 0x22}},
        {"S5030003F9", RecordKind::Count, 3, {}},
        {"S604000102F8", RecordKind::Count, 0x102, {}},
        {"S70500001000EA", RecordKind::End, 0x1000, {}},
        {"S804001000EB", RecordKind::End, 0x1000, {}},
        {"S9030000FC", RecordKind::End, 0, {}},
        {":0400100001020304E2", RecordKind::Data, 0x0010, {1, 2, 3, 4}},
        {":00000001FF", RecordKind::End, 0, {}},
        {":020000021000EC", RecordKind::SegmentBase, 0x10000, {}},
        {":020000040001F9", RecordKind::LinearBase, 0x10000, {}},
        {":0400000500001000E7", RecordKind::StartAddress, 0x1000, {}},
        {":0400100001020304e2  \r", RecordKind::Data, 0x0010, {1, 2, 3, 4}},
    };
    for (const GoodCase& c : cases) {
        SCOPED_TRACE(c.line);
        Record record;
        std::string error;
        ASSERT_TRUE(ParseRecord(c.line, record, error)) << error;
        EXPECT_EQ(record.kind, c.kind);
        EXPECT_EQ(record.value, c.value);
        EXPECT_EQ(record.data, c.data);
    }
}

TEST(SimRecords, RejectsBadRecordsWithAReason)
{
    const std::pair<const char*, const char*> cases[] = {
        {"S1070010AABBCCDDDB", "checksum"}, // checksum off by one
        {":0400100001020304E3", "checksum"},
        {"S1070010AABBCC", "truncated"}, // byte count says more
        {":0400100001020", "odd"},
        {":04001000010203", "truncated"},
        {"S1070010AABBCCDDDA00", "longer"}, // more than the count says
        {"S1070010AABBCCDDD", "odd"},       // odd number of digits
        {"S1070010AABBXCDDDA", "hex digit"},
        {"S4030000FC", "type"}, // reserved type
        {"S", "truncated"},
        {":0000000AF6", "type"},     // unknown Intel HEX type
        {":0100000200FD", "length"}, // segment base needs two bytes
        {"S10200FD", "byte count too small"},
        {"S904000000FB", "unexpected data"}, // an end record carries no data
        {"s9030000fc", "not a record"},
        {"hello", "not a record"},
    };
    for (const auto& [line, reason] : cases) {
        SCOPED_TRACE(line);
        Record record;
        std::string error;
        EXPECT_FALSE(ParseRecord(line, record, error));
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
}

TEST(SimRecords, RecognisesWhatLooksLikeARecord)
{
    EXPECT_TRUE(LooksLikeRecord("S0030000FC"));
    EXPECT_TRUE(LooksLikeRecord(":00000001FF"));
    EXPECT_TRUE(LooksLikeRecord("S9"));
    EXPECT_FALSE(LooksLikeRecord(""));
    EXPECT_FALSE(LooksLikeRecord("S"));
    EXPECT_FALSE(LooksLikeRecord("Select"));
    EXPECT_FALSE(LooksLikeRecord("\r"));
}

TEST(SimDownload, IntelHexExtendedAddressesPlaceTheData)
{
    Download download(1u << 20);
    // Linear base 0x0001 -> 0x10000; segment base 0x2000 -> 0x20000.
    EXPECT_EQ(download.AddLine(":020000040001F9"), Download::Step::Record);
    EXPECT_EQ(download.AddLine(":02001000AABB89"), Download::Step::Record);
    EXPECT_EQ(download.AddLine(":020000022000DC"), Download::Step::Record);
    EXPECT_EQ(download.AddLine(":01000400CC2F"), Download::Step::Record);
    EXPECT_EQ(download.AddLine(""), Download::Step::Ignored);
    EXPECT_EQ(download.AddLine(":00000001FF"), Download::Step::End);
    EXPECT_EQ(download.Image().LowestAddress(), 0x10010u);
    const auto bytes = download.Image().Bytes();
    ASSERT_EQ(bytes.size(), 0x20005u - 0x10010u);
    EXPECT_EQ(bytes[0], 0xAA);
    EXPECT_EQ(bytes[1], 0xBB);
    EXPECT_EQ(bytes[2], 0xFF); // gap
    EXPECT_EQ(bytes.back(), 0xCC);
    EXPECT_EQ(download.Records(), 5u);
    EXPECT_EQ(download.Lines(), 6u);
}

TEST(SimDownload, FlagsAddressesOutsideTheFlashAndWrongCounts)
{
    Download small(0x20);
    EXPECT_EQ(small.AddLine("S1070010AABBCCDDDA"), Download::Step::Record);
    EXPECT_FALSE(small.OutsideFlash());
    EXPECT_EQ(small.AddLine("S107001EAABBCCDDCC"), Download::Step::Record);
    EXPECT_TRUE(small.OutsideFlash());
    EXPECT_NE(small.FlashError().find("line 2"), std::string::npos);

    Download counted(1u << 20);
    EXPECT_EQ(counted.AddLine("S1070010AABBCCDDDA"), Download::Step::Record);
    EXPECT_EQ(counted.AddLine("S5030002FA"), Download::Step::Bad);
    EXPECT_NE(counted.Error().find("count"), std::string::npos);

    Download bad(1u << 20);
    EXPECT_EQ(bad.AddLine("garbage"), Download::Step::Bad);
    EXPECT_EQ(bad.Error(), "line 1: not a record");
}

} // namespace
