// orvix-upload against the simulated unit: its exit status for each class of outcome, its
// unit record, its JSON events, and a user who may not open the device.
#include "tests/upload_command/CommandRun.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <csignal>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using commandbench::CommandRun;
using commandbench::Finished;

// A unit that never holds the line for these files, with short pauses.
const QStringList Quick = {"--baud",   "0",     "--pause-ms", "100",   "--program-rate", "400000",
                           "--buffer", "65536", "--xoff-at",  "61440", "--line-timeout", "2"};

QString Text(const Finished& f)
{
    return "status " + QString::number(f.status) + "\nstdout:\n" + QString::fromLocal8Bit(f.out) +
           "stderr:\n" + QString::fromLocal8Bit(f.err);
}

struct OutcomeCase
{
    const char* name;
    QStringList simOptions;
    QStringList extraArgs;
    int status;
    const char* record; // the record row's outcome
};

class CommandOutcome : public testing::TestWithParam<OutcomeCase>
{
};

TEST_P(CommandOutcome, EndsWithTheStatusOfItsClassAndRecordsTheUnit)
{
    const OutcomeCase& c = GetParam();
    CommandRun run(c.simOptions);
    ASSERT_TRUE(run.Error().isEmpty()) << run.Error().toStdString();
    const QString fw = run.MakeFirmware("fw.out", 8192);
    const Finished f = run.Run(
        QStringList{"--device", run.Link(), "--file", fw, "--result-timeout", "5"} + c.extraArgs,
        60s);
    EXPECT_EQ(f.status, c.status) << Text(f).toStdString();
    const QList<QByteArray> rows = run.RecordLines();
    ASSERT_EQ(rows.size(), 2) << Text(f).toStdString();
    EXPECT_TRUE(rows[0].startsWith("start,end,port,device,baud,file"));
    const QList<QByteArray> fields = rows[1].split(',');
    ASSERT_EQ(fields.size(), 15);
    EXPECT_EQ(fields[3].toStdString(), run.Link().toStdString());
    EXPECT_EQ(fields[4], "115200");
    EXPECT_EQ(fields[6].toLongLong(), QFile(fw).size());
    EXPECT_EQ(fields[13].toStdString(), c.record);
    EXPECT_TRUE(f.out.contains(c.status == 0 ? "1 passed, 0 failed" : "0 passed, 1 failed"))
        << Text(f).toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Units, CommandOutcome,
    testing::Values(
        OutcomeCase{"Good", Quick, {}, 0, "crc-ok"},
        OutcomeCase{"BadCrc", Quick + QStringList{"--fault", "bad-crc"}, {}, 8, "crc-bad"},
        OutcomeCase{"ProgramFail",
                    Quick + QStringList{"--fault", "program-fail"},
                    {},
                    7,
                    "programming-failed"},
        // The unit holds the line, never releases it, and gives up after its line timeout.
        OutcomeCase{"UnitGivesUp",
                    {"--baud", "0", "--buffer", "4096", "--xoff-at", "1024", "--xon-at", "256",
                     "--program-rate", "4000", "--fault", "never-xon", "--line-timeout", "1"},
                    {},
                    6,
                    "download-failed"},
        // A unit that never says a verdict: after the transfer it stays silent.
        OutcomeCase{"Silent",
                    Quick + QStringList{"--pause-ms", "8000"},
                    {"--result-timeout", "2"},
                    10,
                    "no-result"}),
    [](const testing::TestParamInfo<OutcomeCase>& info) { return std::string(info.param.name); });

struct RefusalCase
{
    const char* name;
    std::function<QStringList(CommandRun&)> args;
    int status;
    const char* says; // in the error text
};

class CommandRefusal : public testing::TestWithParam<RefusalCase>
{
};

TEST_P(CommandRefusal, SaysWhyInOneLineAndSendsNothing)
{
    const RefusalCase& c = GetParam();
    CommandRun run(Quick);
    ASSERT_TRUE(run.Error().isEmpty()) << run.Error().toStdString();
    QFile ini(run.Path("Uploader.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[Ports]\r\nCOM2=" + run.Link().toLocal8Bit() + "\r\nCOM3=/dev/ttyNOSUCH9\r\n");
    ini.close();
    const Finished f = run.Run(c.args(run), 20s);
    EXPECT_EQ(f.status, c.status) << Text(f).toStdString();
    EXPECT_TRUE(f.err.startsWith("orvix-upload: ")) << Text(f).toStdString();
    EXPECT_TRUE(f.err.contains(c.says)) << Text(f).toStdString();
    // The unit received nothing: the line was never opened, no cycle began.
    EXPECT_FALSE(run.Log().contains("com port open successful"));
    EXPECT_TRUE(run.RecordLines().isEmpty());
    EXPECT_FALSE(run.SimTrace().contains("download begins"));
}

INSTANTIATE_TEST_SUITE_P(
    Input, CommandRefusal,
    testing::Values(
        RefusalCase{"PortAndDevice",
                    [](CommandRun& r) {
                        return QStringList{"--port", "COM2", "--device", r.Link(), "--file", "x"};
                    },
                    2, "--port and --device"},
        RefusalCase{"UnknownPort",
                    [](CommandRun&) {
                        return QStringList{"--port", "LPT1", "--file", "x"};
                    },
                    2, "unknown port: LPT1"},
        RefusalCase{"MissingFile",
                    [](CommandRun&) {
                        return QStringList{"--port", "COM2", "--file", "nosuch.out"};
                    },
                    3, "cannot read nosuch.out: No such file or directory"},
        RefusalCase{"BadChecksum",
                    [](CommandRun& r) {
                        return QStringList{
                            "--port", "COM2", "--file",
                            r.MakeFirmware("bad.out", 4096, {"--bad-record-checksum"})};
                    },
                    3, "file check failed: line "},
        RefusalCase{
            "MissingDevice",
            [](CommandRun& r) {
                return QStringList{"--port", "COM3", "--file", r.MakeFirmware("fw.out", 1024)};
            },
            4, "/dev/ttyNOSUCH9"}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

TEST(Command, EndsWhenNoUnitGreetsWithinTheWait)
{
    // A line nobody answers: the simulator is not started, a pty stands in for the cable.
    CommandRun run({}, false);
    const QString fw = run.MakeFirmware("fw.out", 1024);
    const Finished f =
        run.Run({"--device", "/dev/ptmx", "--file", fw, "--greet-timeout", "2"}, 20s);
    // /dev/ptmx opens a fresh master that nobody answers on.
    EXPECT_EQ(f.status, 5) << Text(f).toStdString();
    EXPECT_TRUE(f.err.contains("no unit greeted within 2 s"));
}

TEST(Command, ALineThatVanishesEndsTheRunAtOnce)
{
    // A paced line, so the moment of the unplug is seen as it happens.
    CommandRun run({"--baud", "115200", "--fault", "unplug-after=20000"});
    ASSERT_TRUE(run.Error().isEmpty()) << run.Error().toStdString();
    const QString fw = run.MakeFirmware("fw.out", 32768);
    std::optional<std::chrono::steady_clock::time_point> pulled;
    const Finished f = run.Run({"--device", run.Link(), "--file", fw}, 60s, [&](QProcess&) {
        if (!pulled && run.SimTrace().contains("line pulled"))
            pulled = std::chrono::steady_clock::now();
    });
    EXPECT_EQ(f.status, 9) << Text(f).toStdString();
    ASSERT_TRUE(run.SimTrace().contains("line pulled")) << run.SimTrace().toStdString();
    // Not seen while the command ran: it had ended before the next look at the trace.
    EXPECT_LT(f.end - pulled.value_or(f.end), 2s);
    ASSERT_EQ(run.RecordLines().size(), 2);
    EXPECT_TRUE(run.RecordLines()[1].contains(",send-error,"));
}

TEST(Command, SigtermCancelsTheTransferAndRecordsIt)
{
    // A slow unit, so the transfer is still going when the signal comes.
    CommandRun run({"--baud", "9600", "--pause-ms", "100"});
    ASSERT_TRUE(run.Error().isEmpty()) << run.Error().toStdString();
    const QString fw = run.MakeFirmware("fw.out", 32768);
    bool sent = false;
    const Finished f =
        run.Run({"--device", run.Link(), "--baud", "9600", "--file", fw}, 60s, [&](QProcess& p) {
            if (!sent && run.SimTrace().contains("download begins")) {
                std::this_thread::sleep_for(500ms);
                ::kill(pid_t(p.processId()), SIGTERM);
                sent = true;
            }
        });
    EXPECT_EQ(f.status, 11) << Text(f).toStdString();
    EXPECT_TRUE(run.Log().contains("status : Upload Canceled"));
    ASSERT_EQ(run.RecordLines().size(), 2);
    EXPECT_TRUE(run.RecordLines()[1].contains(",cancelled,"));
}

TEST(Command, JsonGivesOneValidObjectPerLineInTheOrderOfEvents)
{
    CommandRun run(Quick);
    ASSERT_TRUE(run.Error().isEmpty()) << run.Error().toStdString();
    const QString fw = run.MakeFirmware("fw \"quoted\"\\.out", 8192);
    const Finished f =
        run.Run({"--device", run.Link(), "--file", fw, "--json", "--units", "2"}, 90s);
    ASSERT_EQ(f.status, 0) << Text(f).toStdString();
    QStringList order;
    QJsonObject end;
    for (const QByteArray& line : f.out.split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        ASSERT_TRUE(doc.isObject()) << line.toStdString();
        const QString event = doc.object().value("event").toString();
        if (event == "file-checked") {
            EXPECT_EQ(doc.object().value("file").toString(), fw);
        }
        if (event != "status" && event != "progress" && event != "hold-begin" &&
            event != "hold-end")
            order << event;
        if (event == "end")
            end = doc.object();
    }
    const QStringList unit = {"greeting", "transfer-start", "transfer-end", "verdict", "record"};
    EXPECT_EQ(order, QStringList{"file-checked"} + unit + unit + QStringList{"end"});
    EXPECT_EQ(end.value("status").toInt(-1), 0);
    EXPECT_EQ(end.value("passed").toInt(), 2);
    EXPECT_EQ(end.value("failed").toInt(), 0);
    EXPECT_EQ(run.RecordLines().size(), 3);
}

TEST(Command, AUserWhoMayNotOpenTheDeviceIsToldTheFix)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to make a device only root may open";
    CommandRun run(Quick);
    ASSERT_TRUE(run.Error().isEmpty()) << run.Error().toStdString();
    const QString fw = run.MakeFirmware("fw.out", 1024);
    const QString target = QFile::symLinkTarget(run.Link());
    ASSERT_FALSE(target.isEmpty());
    ASSERT_TRUE(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    QFile::setPermissions(fw, QFile::permissions(fw) | QFileDevice::ReadOther);
    const Finished f = run.Run({"--device", run.Link(), "--file", fw, "--log", "/dev/null"}, 20s,
                               {}, "runuser", {"-u", "nobody", "--", ORVIX_UPLOAD_PATH});
    EXPECT_EQ(f.status, 4) << Text(f).toStdString();
    EXPECT_TRUE(f.err.contains("Permission denied")) << Text(f).toStdString();
    EXPECT_TRUE(f.err.contains("dialout")) << Text(f).toStdString();
}

} // namespace
