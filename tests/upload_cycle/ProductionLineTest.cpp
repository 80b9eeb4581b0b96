// On the production line: the unit record Orvix500Units.csv after real cycles against the
// simulator, read back with a CSV reader, and the firmware check that refuses a broken file
// before the unit is touched.
#include "app/Uploader.h"
#include "platform/PortNames.h"
#include "platform/SerialDevices.h"
#include "tests/support/TestApp.h"
#include "tests/upload_cycle/UnitBench.h"
#include "upload/UnitRecorder.h"

#include <QComboBox>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <functional>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using unitbench::CrcOk;
using unitbench::Greeted;
using unitbench::ProcessUntil;
using unitbench::Quick;
using unitbench::ReadBytes;
using unitbench::Unpaced;
using unitbench::WithLineAt;

namespace {

const QString CrcBad = "CRC Bad!!!  Waiting for Connection...";
const QStringList Header = {"start",       "end",        "port",       "device",
                            "baud",        "file",       "file_size",  "sha256",
                            "bytes_sent",  "lines_sent", "xoff_holds", "longest_hold_ms",
                            "transfer_ms", "outcome",    "line_errors"};

// A small XOFF mark: the unit holds the line again and again, each time for about 25 ms.
// The files are larger than what a pty takes in before its reader drains it (about 20 KiB),
// so the tool meets the holds whatever the machine's load.
const QStringList Holding = Unpaced + QStringList{"--program-rate", "20000", "--buffer", "65536",
                                                  "--xoff-at",      "768",   "--xon-at", "256"};

// Reads RFC 4180 text: records end in CR LF; a field in double quotes may hold commas, line
// ends and doubled quotes. Sets `error` on anything else (a bare LF, a stray quote, an
// unterminated field or record).
std::vector<QStringList> ReadCsv(const QByteArray& text, QString& error)
{
    std::vector<QStringList> rows;
    QStringList row;
    QByteArray field;
    bool quoted = false;
    bool fieldStarted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"' && !fieldStarted) {
            quoted = true;
            fieldStarted = true;
        } else if (c == ',') {
            row << QString::fromLocal8Bit(field);
            field.clear();
            fieldStarted = false;
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            row << QString::fromLocal8Bit(field);
            rows.push_back(row);
            row.clear();
            field.clear();
            fieldStarted = false;
            ++i;
        } else if (c == '"' || c == '\r' || c == '\n') {
            error = QString("unexpected byte %1 at %2").arg(int(c)).arg(i);
            return rows;
        } else {
            field += c;
            fieldStarted = true;
        }
    }
    if (quoted || fieldStarted || !row.isEmpty())
        error = "the last record is not complete";
    return rows;
}

class ProductionLine : public testing::Test
{
public:
    void SetUp() override { testapp::ResetRecorders(); }

    void TearDown() override
    {
        tool.reset();
        unit.reset();
        upload::UnitRecorder::ResultBound = savedBound;
        SetSerialDeviceRoots({});
        EXPECT_EQ(testapp::ShownExceptions(), std::vector<AnsiString>{});
    }

    void StartUnit(const QStringList& options)
    {
        unit = std::make_unique<unitbench::SimulatedUnit>(ORVIX_SIM_PATH, options);
        ASSERT_EQ(unit->Error(), "");
    }
    void StartTool()
    {
        tool = std::make_unique<unitbench::Uploader>();
        form = &tool->Form();
    }
    void ConnectToUnit()
    {
        tool->Click(form->ConnectButton);
        ASSERT_TRUE(tool->WaitForStatus(Greeted)) << "status: " << tool->Status();
    }

    // The unit record's rows after its header, checked for RFC 4180 form and the header.
    std::vector<QStringList> Records()
    {
        QString error;
        std::vector<QStringList> rows =
            ReadCsv(ReadBytes(unit->Path(upload::UnitRecordFileName)), error);
        EXPECT_EQ(error, "");
        if (rows.empty()) {
            ADD_FAILURE() << "no unit record";
            return {};
        }
        EXPECT_EQ(rows.front(), Header);
        rows.erase(rows.begin());
        for (const QStringList& row : rows)
            EXPECT_EQ(row.size(), Header.size()) << row.join("|").toStdString();
        return rows;
    }

    // The fields of a record that follow from the file and the port, and its times.
    void ExpectRecordOf(const QStringList& row, const QString& path, const QString& outcome)
    {
        ASSERT_EQ(row.size(), Header.size());
        const QByteArray bytes = ReadBytes(path);
        const QRegularExpression iso(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d$)");
        EXPECT_TRUE(iso.match(row[0]).hasMatch()) << row[0].toStdString();
        EXPECT_TRUE(iso.match(row[1]).hasMatch()) << row[1].toStdString();
        const QDateTime start = QDateTime::fromString(row[0], Qt::ISODate);
        const QDateTime end = QDateTime::fromString(row[1], Qt::ISODate);
        EXPECT_TRUE(start.isValid() && end.isValid() && start <= end);
        EXPECT_LE(std::abs(start.secsTo(QDateTime::currentDateTime())), 120);
        EXPECT_EQ(row[2], "COM2");
        EXPECT_EQ(row[3], unit->Link());
        EXPECT_EQ(row[4], "115200");
        EXPECT_EQ(row[5], path);
        EXPECT_EQ(row[6], QString::number(bytes.size()));
        EXPECT_EQ(row[7], QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
        EXPECT_EQ(row[13], outcome);
    }

    std::unique_ptr<unitbench::SimulatedUnit> unit;
    std::unique_ptr<unitbench::Uploader> tool;
    TForm1* form = nullptr;
    std::chrono::milliseconds savedBound = upload::UnitRecorder::ResultBound;
};

TEST_F(ProductionLine, ThreeUnitsInARowGiveThreeRecordLines)
{
    StartUnit(Holding + QStringList{"--greet-after", "0.5"});
    // A name a spreadsheet must get back whole: a comma and quotes in it.
    const QString good = unit->MakeFirmware("fw, \"rev A\".out", 16384);
    const QString corrupted = unit->MakeFirmware("corrupted.out", 16384, {"--bad-crc"});
    const QString third = unit->MakeFirmware("third.out", 16384);
    ASSERT_FALSE(good.isEmpty() || corrupted.isEmpty() || third.isEmpty())
        << unit->Error().toStdString();
    StartTool();
    ConnectToUnit();

    tool->SelectFile(good);
    ASSERT_TRUE(tool->WaitForStatus(CrcOk)) << tool->Status();
    ASSERT_TRUE(tool->WaitForStatus(Greeted));
    tool->SelectFile(corrupted);
    ASSERT_TRUE(tool->WaitForStatus(CrcBad)) << tool->Status();
    ASSERT_TRUE(tool->WaitForStatus(Greeted));
    bool cancelled = false;
    tool->SelectFile(third, [&] {
        if (!cancelled && form->XoffShown()) {
            cancelled = true;
            tool->Click(form->bCancel);
        }
    });
    ASSERT_TRUE(cancelled);
    EXPECT_EQ(tool->Status(), "Upload Canceled");

    ASSERT_TRUE(unit->WaitForUnits(2, 10s));
    const QJsonArray cycles = unit->Units();
    const std::vector<QStringList> rows = Records();
    ASSERT_EQ(rows.size(), 3u);
    ExpectRecordOf(rows[0], good, "crc-ok");
    ExpectRecordOf(rows[1], corrupted, "crc-bad");
    ExpectRecordOf(rows[2], third, "cancelled");
    for (int n = 0; n < 2; ++n) {
        SCOPED_TRACE(n);
        // What the tool counts as sent is what the unit counts as received: every byte but
        // the CRs, and the lone LF of the read that noticed the end.
        const QJsonObject cycle = cycles[n].toObject();
        const QByteArray bytes = ReadBytes(n == 0 ? good : corrupted);
        EXPECT_EQ(rows[n][8].toLongLong(), cycle.value("bytes").toInteger());
        EXPECT_EQ(rows[n][8].toLongLong(), bytes.size() - bytes.count('\r') + 1);
        EXPECT_EQ(rows[n][9].toLongLong(), bytes.count('\n') + 1);
        // The unit held the line: holds were counted and lasted.
        EXPECT_GT(rows[n][10].toInt(), 0)
            << "the unit sent XOFF " << cycle.value("xoff_sent").toInt() << " times";
        EXPECT_GT(rows[n][11].toInt(), 0);
        EXPECT_GT(rows[n][12].toInt(), rows[n][11].toInt());
    }
    const QByteArray thirdBytes = ReadBytes(third);
    EXPECT_GT(rows[2][8].toLongLong(), 0);
    EXPECT_LT(rows[2][8].toLongLong(), thirdBytes.size() - thirdBytes.count('\r'));
    EXPECT_GE(rows[2][10].toInt(), 1);
}

TEST_F(ProductionLine, AFileWithABadRecordIsRefusedBeforeTheUnitIsTouched)
{
    StartUnit(Quick);
    const QString fixed = unit->MakeFirmware("firmware.out", 4096);
    ASSERT_FALSE(fixed.isEmpty());
    QByteArray bytes = ReadBytes(fixed);
    // Line 20's checksum, one off.
    QList<QByteArray> lines = bytes.split('\n');
    QByteArray& line20 = lines[19];
    const int at = int(line20.size()) - 3; // the checksum's last digit, before the CR
    line20[at] = line20[at] == '0' ? '1' : '0';
    const QString broken = unit->WriteFile("broken.out", lines.join('\n'));
    StartTool();
    ConnectToUnit();

    tool->SelectFile(broken);
    const QString status = QString::fromStdString(tool->Status());
    EXPECT_TRUE(status.startsWith("File check failed: line 20: checksum mismatch (the record says"))
        << status.toStdString();
    EXPECT_EQ(form->DialogueState(), Connected);
    EXPECT_TRUE(form->bBrowse->isEnabled());
    const QStringList log = tool->LogTexts();
    EXPECT_TRUE(log.contains("status : " + status));
    EXPECT_FALSE(log.join("\n").contains("Transferring file")) << log.join("\n").toStdString();
    // The unit received nothing: it stays in upload mode and began no download.
    ProcessUntil([] { return false; }, 1500ms);
    EXPECT_TRUE(unit->Units().isEmpty());
    EXPECT_FALSE(unit->Trace().contains("download")) << unit->Trace().toStdString();
    EXPECT_FALSE(QFile::exists(upload::UnitRecordFileName)) << "no cycle began";

    tool->SelectFile(fixed);
    EXPECT_EQ(tool->Status(), "Finished Uploading");
    ASSERT_TRUE(tool->WaitForStatus(CrcOk)) << tool->Status();
    ASSERT_TRUE(unit->WaitForUnits(1, 10s));
    const QJsonArray cycles = unit->Units();
    ASSERT_EQ(cycles.size(), 1);
    EXPECT_EQ(cycles[0].toObject().value("result").toString(), "crc-ok");
    EXPECT_EQ(cycles[0].toObject().value("bytes").toInteger(),
              bytes.size() - bytes.count('\r') + 1);
    const QString sha = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
    const QStringList after = tool->LogTexts();
    const qsizetype figures = after.indexOf(QRegularExpression(
        "^file check : S-record file, \\d+ records, addresses 0x00000000-0x00001003, "
        "4100 image bytes, SHA-256 " +
        sha + "$"));
    EXPECT_GE(figures, 0) << after.join("\n").toStdString();
    EXPECT_EQ(after.indexOf("status : Transferring file " + fixed), figures + 1);
    const std::vector<QStringList> rows = Records();
    ASSERT_EQ(rows.size(), 1u);
    ExpectRecordOf(rows[0], fixed, "crc-ok");
}

// The record of a cycle the unit gives no verdict for, once `giveUp` has run after the
// transfer: plain text is sent unchecked, and the unit waits for records and says nothing.
void ExpectNoResultRecord(ProductionLine& t, const std::function<void()>& giveUp)
{
    t.StartUnit(Quick);
    const QString text = t.unit->WriteFile("notes.out", "not firmware\r\n");
    t.StartTool();
    t.ConnectToUnit();
    t.tool->SelectFile(text);
    EXPECT_EQ(t.tool->Status(), "Finished Uploading");
    EXPECT_FALSE(t.tool->LogTexts().join("\n").contains("file check :"));
    giveUp();
    const std::vector<QStringList> rows = t.Records();
    ASSERT_EQ(rows.size(), 1u);
    t.ExpectRecordOf(rows[0], text, "no-result");
    EXPECT_EQ(rows[0][8], "14") << "the line, its LF and the lone LF of the end";
}

TEST_F(ProductionLine, AUnitThatSaysNothingIsRecordedAsNoResult)
{
    upload::UnitRecorder::ResultBound = 1500ms;
    ExpectNoResultRecord(*this, [this] {
        EXPECT_TRUE(ProcessUntil([] { return QFile::exists(upload::UnitRecordFileName); }, 5s));
        // The operator sees that no verdict came, and the tool waits for the next unit.
        EXPECT_TRUE(tool->WaitForStatus("No Result!!!  Waiting for Connection...", 5s))
            << tool->Status();
        EXPECT_EQ(form->DialogueState(), WaitingForUnit);
        EXPECT_EQ(form->PageControl1->currentWidget(), form->CommSheet);
        EXPECT_TRUE(tool->LogTexts().contains("status : No Result!!!  Waiting for Connection..."));
    });
}

TEST_F(ProductionLine, AUnitThatGreetsBeforeItsVerdictIsRecordedAsNoResult)
{
    // The operator gives up on this unit and connects the next one, long before the bound.
    ExpectNoResultRecord(*this, [this] {
        form->PageControl1->setCurrentWidget(form->CommSheet);
        ConnectToUnit();
    });
}

TEST_F(ProductionLine, ARecordThatCannotBeWrittenIsShownAndTheLineGoesOn)
{
    StartUnit(Quick + QStringList{"--greet-after", "0.5"});
    const QString path = unit->MakeFirmware("firmware.out", 2048);
    // Not a file the tool can append to, for root too.
    ASSERT_TRUE(QDir(unit->Dir()).mkdir(upload::UnitRecordFileName));
    const QString unwritable = "Unable to write to " + unit->Path(upload::UnitRecordFileName);
    StartTool();
    EXPECT_EQ(QString::fromStdString(tool->Status()), unwritable) << "said once at start";
    ConnectToUnit();

    tool->SelectFile(path);
    // The verdict keeps the status bar; the record's failure is shown in the pane and logged.
    ASSERT_TRUE(tool->WaitForStatus(CrcOk)) << tool->Status();
    ASSERT_TRUE(
        ProcessUntil([&] { return tool->LogTexts().count("status : " + unwritable) == 2; }, 5s));
    const QStringList history = tool->StatusHistory();
    EXPECT_FALSE(history.mid(history.indexOf(CrcOk)).contains(unwritable));
    EXPECT_EQ(QString::fromStdString(tool->Status()), CrcOk);
    EXPECT_TRUE(tool->Terminal().contains("[" + unwritable + "]"));
    // The next unit is greeted and programmed as before.
    ASSERT_TRUE(tool->WaitForStatus(Greeted));
    tool->SelectFile(path);
    ASSERT_TRUE(ProcessUntil([&] { return tool->StatusHistory().count(CrcOk) == 2; }, 15s));
}

// The log lists the devices present at start, and a port that names a missing device is
// explained with them; the status bar keeps its text.
TEST_F(ProductionLine, AMissingPortIsExplainedWithTheDevicesPresent)
{
    StartUnit(Quick);
    const QString byId = unit->Path("serial/by-id/usb-Tallowmere_Orvix_Cable_A1B2-if00-port0");
    ASSERT_TRUE(QDir(unit->Dir()).mkpath("serial/by-id") && QDir(unit->Dir()).mkpath("dev"));
    const QString device = QFileInfo(unit->Link()).canonicalFilePath();
    ASSERT_TRUE(QFile::link(device, byId));
    SetSerialDeviceRoots({unit->Path("dev").toStdString(), unit->Path("serial").toStdString(),
                          unit->Path("sys").toStdString()});
    const QString missing = unit->Path("dev/ttyUSB7");
    unit->WriteFile("Uploader.ini",
                    "[SystemSection]\r\n[Ports]\r\nCOM2=" + unit->Link().toLocal8Bit() +
                        "\r\nCOM3=" + missing.toLocal8Bit() + "\r\n");
    StartTool();
    const QString present = device + " (" + byId + ")";
    EXPECT_EQ(tool->LogTexts().count("initialization : serial devices : " + present), 1);

    form->cbComPort->setCurrentIndex(2);
    EXPECT_EQ(tool->Status(), "Comport Unavailable.");
    const QStringList log = tool->LogTexts();
    const qsizetype at = log.indexOf("port help : " + missing + " does not exist");
    ASSERT_GE(at, 0) << log.join("\n").toStdString();
    EXPECT_EQ(log.value(at + 1), "port help : serial devices present: " + present);
    EXPECT_EQ(log.value(at + 2), "port help : fix: name one of them for a port in the [Ports] "
                                 "section of Uploader.ini, for example COM2=" +
                                     byId + ", then restart the uploader");
    EXPECT_EQ(log.count("initialization : serial devices : " + present), 1) << "once, at start";
}

} // namespace
