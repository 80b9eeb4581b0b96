// The unit record's line: RFC 4180 quoting, ISO 8601 times with their offset, the columns.
#include "upload/UnitRecord.h"

#include <gtest/gtest.h>

using upload::CsvField;

namespace {

TEST(UnitRecordLine, FieldsAreQuotedOnlyWhenTheyMustBe)
{
    EXPECT_EQ(CsvField("/home/op/fw.out"), "/home/op/fw.out");
    EXPECT_EQ(CsvField(""), "");
    EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(CsvField("two\r\nlines"), "\"two\r\nlines\"");
    EXPECT_EQ(CsvField(" padded "), "\" padded \"");
}

// 2026-03-14 09:26:53 local time at the given offset from UTC.
LocalTime At(int offsetSeconds)
{
    using namespace std::chrono;
    const sys_seconds local = sys_days(year(2026) / 3 / 14) + hours(9) + minutes(26) + seconds(53);
    return {local - seconds(offsetSeconds), offsetSeconds};
}

TEST(UnitRecordLine, TimesCarryTheirUtcOffset)
{
    EXPECT_EQ(upload::IsoTime(At(3600)), "2026-03-14T09:26:53+01:00");
    EXPECT_EQ(upload::IsoTime(At(-(3 * 3600 + 1800))), "2026-03-14T09:26:53-03:30");
    EXPECT_EQ(upload::IsoTime(At(0)), "2026-03-14T09:26:53+00:00");
}

TEST(UnitRecordLine, OneLinePerRecordWithEveryColumn)
{
    upload::UnitRecord r;
    r.start = At(0);
    r.end = {r.start.utc + std::chrono::seconds(3), 0};
    r.port = "COM2";
    r.device = "/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0";
    r.baud = 115200;
    r.file = "/srv/fw/unit, rev \"B\".out";
    r.fileSize = 2471;
    r.sha256 = "00ff";
    r.bytesSent = 2436;
    r.linesSent = 37;
    r.xoffHolds = 2;
    r.longestHoldMs = 180;
    r.transferMs = 620;
    r.outcome = upload::UnitOutcome::CrcBad;
    r.lineErrors = 1;
    EXPECT_EQ(upload::CsvHeader(),
              "start,end,port,device,baud,file,file_size,sha256,bytes_sent,lines_sent,xoff_holds,"
              "longest_hold_ms,transfer_ms,outcome,line_errors\r\n");
    EXPECT_EQ(upload::CsvLine(r),
              "2026-03-14T09:26:53+00:00,2026-03-14T09:26:56+00:00,COM2,"
              "/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0,115200,"
              "\"/srv/fw/unit, rev \"\"B\"\".out\",2471,00ff,2436,37,2,180,620,crc-bad,1\r\n");
}

TEST(UnitRecordLine, OnlyFinalVerdictsEndACycle)
{
    using upload::OutcomeOfStatus;
    using upload::UnitOutcome;
    EXPECT_EQ(OutcomeOfStatus("CRC OK!!!  Waiting for Connection..."), UnitOutcome::CrcOk);
    EXPECT_EQ(OutcomeOfStatus("CRC Bad!!!  Waiting for Connection..."), UnitOutcome::CrcBad);
    EXPECT_EQ(OutcomeOfStatus("Programming Failed!!!  Waiting for Connection..."),
              UnitOutcome::ProgrammingFailed);
    EXPECT_EQ(OutcomeOfStatus("Download Failed!!!  Waiting for Connection..."),
              UnitOutcome::DownloadFailed);
    EXPECT_EQ(OutcomeOfStatus("Programming Complete.  Checking CRC..."), std::nullopt);
    EXPECT_EQ(OutcomeOfStatus("Connection established"), std::nullopt);
    EXPECT_EQ(upload::OutcomeName(UnitOutcome::NoResult), "no-result");
}

} // namespace
