// The log component against real files in a temporary directory.
#include "components/QuickLogFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <stdexcept>
#include <vector>

namespace {

using namespace std::string_literals;

std::tm MakeTime(int year, int month, int day, int hour, int minute, int second)
{
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return tm;
}

AnsiString ReadAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    const QByteArray bytes = file.readAll();
    return AnsiString(bytes.constData(), std::size_t(bytes.size()));
}

class QuickLogFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        log.Clock = [] { return MakeTime(2001, 1, 1, 9, 5, 3); };
        log.TimeSeparator = ':';
        log.LogFileName = Path("test.log");
        log.OnEvent = [this](TObject* sender, const AnsiString& event) {
            senders.push_back(sender);
            events.push_back(event);
        };
    }
    AnsiString Path(const QString& name) const { return dir.filePath(name).toStdString(); }
    AnsiString FileBytes() const { return ReadAll(QString::fromStdString(log.LogFileName)); }

    QTemporaryDir dir;
    TQuickLogFile log{nullptr};
    std::vector<TObject*> senders;
    std::vector<AnsiString> events;
};

TEST_F(QuickLogFileTest, DefaultsAreOffAndEmpty)
{
    TQuickLogFile fresh(nullptr);
    EXPECT_FALSE(fresh.LogToFile);
    EXPECT_EQ(fresh.LogFileName, "");
    EXPECT_EQ(fresh.ID, "");
    EXPECT_FALSE(fresh.OnEvent);
}

// The line handed to OnEvent carries the text unchanged; on disk every LF becomes CR LF and
// the line ends in CR LF.
TEST_F(QuickLogFileTest, LinesAreWrittenByteForByte)
{
    struct Case
    {
        AnsiString id;
        AnsiString text;
        AnsiString event;
        AnsiString disk;
    };
    const std::vector<Case> cases = {
        {"", "Port opened", "01-01-2001 09:05:03 - Port opened",
         "01-01-2001 09:05:03 - Port opened\r\n"},
        {"COM2", "Port opened", "01-01-2001 09:05:03 COM2: Port opened",
         "01-01-2001 09:05:03 COM2: Port opened\r\n"},
        {" ", "x", "01-01-2001 09:05:03  : x", "01-01-2001 09:05:03  : x\r\n"},
        {"", "", "01-01-2001 09:05:03 - ", "01-01-2001 09:05:03 - \r\n"},
        {"ID", "", "01-01-2001 09:05:03 ID: ", "01-01-2001 09:05:03 ID: \r\n"},
        {"", "a\nb", "01-01-2001 09:05:03 - a\nb", "01-01-2001 09:05:03 - a\r\nb\r\n"},
        {"", "a\r\nb\n", "01-01-2001 09:05:03 - a\r\nb\n",
         "01-01-2001 09:05:03 - a\r\r\nb\r\n\r\n"},
        {"", "lone\rcr", "01-01-2001 09:05:03 - lone\rcr", "01-01-2001 09:05:03 - lone\rcr\r\n"},
        {"", "zero\0byte"s, "01-01-2001 09:05:03 - zero\0byte"s,
         "01-01-2001 09:05:03 - zero\0byte\r\n"s},
        {"", "status : \xe9t\xe9", "01-01-2001 09:05:03 - status : \xe9t\xe9",
         "01-01-2001 09:05:03 - status : \xe9t\xe9\r\n"},
    };
    log.LogToFile = true;
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE("case " + std::to_string(n));
        log.LogFileName = Path(QString("line%1.log").arg(n++));
        log.ID = c.id;
        events.clear();
        senders.clear();
        EXPECT_TRUE(log.Log(c.text));
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0], c.event);
        EXPECT_EQ(senders[0], &log);
        EXPECT_EQ(FileBytes(), c.disk);
    }
}

TEST_F(QuickLogFileTest, TimeStampsAreFixedWidthWithTheSeparator)
{
    struct Case
    {
        std::tm time;
        char separator;
        AnsiString stamp;
    };
    const std::vector<Case> cases = {
        {MakeTime(2001, 1, 1, 9, 5, 3), ':', "01-01-2001 09:05:03"},
        {MakeTime(2001, 1, 1, 21, 5, 3), ':', "01-01-2001 21:05:03"},
        {MakeTime(2001, 3, 3, 14, 5, 9), ':', "03-03-2001 14:05:09"},
        {MakeTime(1999, 12, 31, 0, 0, 0), ':', "31-12-1999 00:00:00"},
        {MakeTime(2024, 2, 29, 23, 59, 59), '.', "29-02-2024 23.59.59"},
        {MakeTime(999, 7, 4, 1, 2, 3), ':', "04-07-0999 01:02:03"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stamp);
        log.Clock = [&c] { return c.time; };
        log.TimeSeparator = c.separator;
        events.clear();
        EXPECT_TRUE(log.Log("t"));
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0], c.stamp + " - t");
    }
}

TEST_F(QuickLogFileTest, SystemClockGivesACurrentStamp)
{
    TQuickLogFile plain(nullptr);
    AnsiString line;
    plain.OnEvent = [&](TObject*, const AnsiString& event) { line = event; };
    const QString before = QDateTime::currentDateTime().toString("dd-MM-yyyy");
    EXPECT_TRUE(plain.Log("now"));
    const QString after = QDateTime::currentDateTime().toString("dd-MM-yyyy");
    const QString sep = QRegularExpression::escape(QString(QChar(plain.TimeSeparator)));
    const QRegularExpression shape("^(\\d\\d-\\d\\d-\\d\\d\\d\\d) \\d\\d" + sep + "\\d\\d" + sep +
                                   "\\d\\d - now$");
    const auto match = shape.match(QString::fromStdString(line));
    ASSERT_TRUE(match.hasMatch()) << line;
    EXPECT_TRUE(match.captured(1) == before || match.captured(1) == after) << line;
}

TEST_F(QuickLogFileTest, AppendsToAnExistingFileWithoutTruncating)
{
    {
        QFile file(QString::fromStdString(log.LogFileName));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("older line\n");
    }
    log.LogToFile = true;
    EXPECT_TRUE(log.Log("one"));
    log.Clock = [] { return MakeTime(2001, 1, 1, 21, 5, 3); };
    EXPECT_TRUE(log.Log("two"));
    EXPECT_EQ(FileBytes(), "older line\n"
                           "01-01-2001 09:05:03 - one\r\n"
                           "01-01-2001 21:05:03 - two\r\n");
}

TEST_F(QuickLogFileTest, CreatesAMissingFileThatStaysWritable)
{
    log.LogToFile = true;
    ASSERT_FALSE(QFileInfo::exists(QString::fromStdString(log.LogFileName)));
    EXPECT_TRUE(log.Log("first"));
    const QFileInfo info(QString::fromStdString(log.LogFileName));
    ASSERT_TRUE(info.exists());
    EXPECT_TRUE(info.permissions() & QFileDevice::WriteOwner);
    EXPECT_TRUE(info.permissions() & QFileDevice::ReadOwner);
    EXPECT_EQ(FileBytes(), "01-01-2001 09:05:03 - first\r\n");
}

// Two components naming one file: each line goes to the end, none is lost.
TEST_F(QuickLogFileTest, WritersSharingAFileAppendInCallOrder)
{
    TQuickLogFile other(nullptr);
    other.Clock = log.Clock;
    other.TimeSeparator = ':';
    other.ID = "B";
    other.LogFileName = log.LogFileName;
    other.LogToFile = log.LogToFile = true;
    EXPECT_TRUE(log.Log("1"));
    EXPECT_TRUE(other.Log("2"));
    EXPECT_TRUE(log.Log("3"));
    EXPECT_EQ(FileBytes(), "01-01-2001 09:05:03 - 1\r\n"
                           "01-01-2001 09:05:03 B: 2\r\n"
                           "01-01-2001 09:05:03 - 3\r\n");
}

TEST_F(QuickLogFileTest, SwitchedOffReportsTheLineAndTouchesNoFile)
{
    log.LogToFile = false;
    EXPECT_TRUE(log.Log("quiet"));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0], "01-01-2001 09:05:03 - quiet");
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(log.LogFileName)));
    EXPECT_TRUE(QDir(dir.path()).isEmpty());

    log.LogFileName.clear();
    EXPECT_TRUE(log.Log("no name either"));
}

// A file that cannot be opened gives false; the line has already been reported.
TEST_F(QuickLogFileTest, UnopenableFilesGiveFalse)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("adir"));
    const std::vector<AnsiString> names = {
        "",
        Path("missing/sub.log"),
        Path("adir"),
        Path("zero") + "\0byte.log"s,
    };
    log.LogToFile = true;
    for (const AnsiString& name : names) {
        SCOPED_TRACE(name);
        log.LogFileName = name;
        events.clear();
        EXPECT_FALSE(log.Log("lost"));
        EXPECT_EQ(events.size(), 1u);
    }
    const QStringList left = QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
    EXPECT_EQ(left, QStringList{"adir"});
}

// A file that opens but does not take the line (a full disk) gives false as well.
TEST_F(QuickLogFileTest, LineTheFileDidNotTakeGivesFalse)
{
    log.LogToFile = true;
    log.LogFileName = "/dev/full";
    events.clear();
    EXPECT_FALSE(log.Log("lost on a full disk"));
    EXPECT_EQ(events.size(), 1u);
    log.LogFileName = Path("fine.log");
    EXPECT_TRUE(log.Log("kept"));
}

TEST_F(QuickLogFileTest, ExceptionFromOnEventPassesOutAndNothingIsWritten)
{
    log.LogToFile = true;
    log.OnEvent = [](TObject*, const AnsiString&) { throw std::runtime_error("handler failed"); };
    EXPECT_THROW(log.Log("text"), std::runtime_error);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(log.LogFileName)));
}

TEST_F(QuickLogFileTest, RelativeNameFollowsTheCurrentDirectory)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("a"));
    ASSERT_TRUE(QDir(dir.path()).mkdir("b"));
    const QString original = QDir::currentPath();
    log.LogToFile = true;
    log.LogFileName = "Orvix500Upload.Log";
    ASSERT_TRUE(QDir::setCurrent(dir.filePath("a")));
    const bool first = log.Log("in a");
    ASSERT_TRUE(QDir::setCurrent(dir.filePath("b")));
    const bool second = log.Log("in b");
    QDir::setCurrent(original);
    EXPECT_TRUE(first);
    EXPECT_TRUE(second);
    EXPECT_EQ(ReadAll(dir.filePath("a/Orvix500Upload.Log")), "01-01-2001 09:05:03 - in a\r\n");
    EXPECT_EQ(ReadAll(dir.filePath("b/Orvix500Upload.Log")), "01-01-2001 09:05:03 - in b\r\n");
}

} // namespace
