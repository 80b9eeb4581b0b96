// The orvix-sim program as scripts and other tests start it: its command line, its report
// file, its exit after --units cycles, and its clean exit on SIGTERM.
#include "SimHarness.h"
#include "sim/FirmwareMaker.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <atomic>
#include <csignal>
#include <gtest/gtest.h>
#include <thread>

namespace {

using namespace std::chrono_literals;

const QString kProgram = QStringLiteral(ORVIX_SIM_PROGRAM);

QString LinkIn(const QTemporaryDir& dir)
{
    return dir.filePath("ttyUnit");
}

QString ReportIn(const QTemporaryDir& dir)
{
    return dir.filePath("report.json");
}

// Starts the program for one cycle on a link in `dir`, its report there, and waits for the
// link.
void StartForOneCycle(QProcess& sim, const QTemporaryDir& dir, const QStringList& options)
{
    sim.start(kProgram,
              QStringList{"--link", LinkIn(dir), "--units", "1", "--report", ReportIn(dir)} +
                  options);
    ASSERT_TRUE(sim.waitForStarted(10000));
    ASSERT_TRUE(WaitForLink(LinkIn(dir).toStdString(), 10s));
}

QJsonArray ReportedUnits(const QTemporaryDir& dir)
{
    QFile file(ReportIn(dir));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return QJsonDocument::fromJson(file.readAll()).object()["units"].toArray();
}

TEST(SimProgram, RunsTheAskedNumberOfCyclesWritesItsReportAndRemovesTheLink)
{
    QTemporaryDir dir;
    const QString link = LinkIn(dir);
    QProcess sim;
    ASSERT_NO_FATAL_FAILURE(StartForOneCycle(
        sim, dir, {"--pause-ms", "100", "--baud", "115200", "--program-rate", "1000000"}));
    {
        TestClient client(link.toStdString(), true);
        ASSERT_TRUE(client.Connect());
        FirmwareRecipe recipe;
        recipe.size = 2048;
        ASSERT_TRUE(client.SendFile(MakeFirmwareText(recipe)));
        ASSERT_TRUE(client.ReadUntil("CRC is OK\r\n", 30s)) << client.Received();
    }
    ASSERT_TRUE(sim.waitForFinished(10000));
    EXPECT_EQ(sim.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(sim.exitCode(), 0) << sim.readAllStandardError().toStdString();
    EXPECT_FALSE(QFileInfo(link).isSymLink());

    const QJsonArray units = ReportedUnits(dir);
    ASSERT_EQ(units.size(), 1);
    const QJsonObject u = units[0].toObject();
    EXPECT_EQ(u["result"].toString(), "crc-ok");
    EXPECT_EQ(u["records"].toInt(), 2052 / 32 + 1 + 3);
    EXPECT_GT(u["lines"].toInt(), 0);
    EXPECT_GT(u["bytes"].toInt(), 4000);
    for (const char* key : {"max_fill", "xoff_sent", "overrun_bytes", "duration_s"})
        EXPECT_TRUE(u[key].isDouble()) << key;
    EXPECT_TRUE(u["bytes_after_xoff"].isNull());
}

TEST(SimProgram, StopsCleanlyOnSigtermAndRemovesTheLink)
{
    QTemporaryDir dir;
    const QString link = dir.filePath("ttyUnit");
    QFile stale(link);
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly)); // a stale file of that name is replaced
    stale.close();
    QProcess sim;
    sim.start(kProgram, {"--link", link, "--verbose"});
    ASSERT_TRUE(sim.waitForStarted(10000));
    ASSERT_TRUE(WaitForLink(link.toStdString(), 10s));
    {
        TestClient client(link.toStdString(), false);
        ASSERT_TRUE(client.Connect());
    }
    sim.terminate();
    ASSERT_TRUE(sim.waitForFinished(10000));
    EXPECT_EQ(sim.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(sim.exitCode(), 0);
    EXPECT_FALSE(QFileInfo::exists(link));
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    // The trace names what the unit sent.
    EXPECT_TRUE(sim.readAllStandardError().contains("sent \"Please start up\\r\\n\""));
}

TEST(SimProgram, MakesFirmwareFilesAndRejectsBadCommandLines)
{
    QTemporaryDir dir;
    const QString out = dir.filePath("fw.out");
    QProcess make;
    make.start(kProgram, {"--make-firmware", out, "--size", "100", "--format", "ihex"});
    ASSERT_TRUE(make.waitForFinished(10000));
    EXPECT_EQ(make.exitCode(), 0);
    QFile file(out);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().endsWith(":00000001FF\r\n"));

    const QStringList bad[] = {
        {}, // neither --link nor --device
        {"--link", "a", "--device", "b"},
        {"--link", "a", "--baud", "fast"},
        {"--link", "a", "--fault", "gremlins"},
        {"--link", "a", "--xon-at", "900", "--xoff-at", "800"},
        {"--make-firmware", "x.out"}, // no --size
        {"--link"},
    };
    for (const QStringList& args : bad) {
        QProcess p;
        p.start(kProgram, args);
        ASSERT_TRUE(p.waitForFinished(10000));
        EXPECT_EQ(p.exitCode(), 2) << args.join(' ').toStdString();
        EXPECT_TRUE(p.readAllStandardError().startsWith("orvix-sim: "));
    }
    QProcess missing;
    missing.start(kProgram, {"--device", dir.filePath("no-such-port")});
    ASSERT_TRUE(missing.waitForFinished(10000));
    EXPECT_EQ(missing.exitCode(), 1);
    EXPECT_TRUE(missing.readAllStandardError().contains("No such file"));
}

// A paced unit whose own process is stopped now and then during the download (as a busy
// machine delays it): the bytes the pty gathered meanwhile are taken no faster than the
// line delivers them, so the unit holds the line in time and nothing overruns.
TEST(SimProgram, UnitDelayedByTheMachineStillPacesTheLine)
{
    QTemporaryDir dir;
    const QString link = LinkIn(dir);
    QProcess sim;
    ASSERT_NO_FATAL_FAILURE(StartForOneCycle(
        sim, dir, {"--pause-ms", "50", "--baud", "3000000", "--program-rate", "1000000"}));
    const auto pid = static_cast<pid_t>(sim.processId());
    {
        TestClient client(link.toStdString(), true);
        ASSERT_TRUE(client.Connect());
        FirmwareRecipe recipe;
        recipe.size = 96 * 1024;
        const std::string file = MakeFirmwareText(recipe);
        std::atomic<bool> sending{true};
        int stops = 0;
        std::thread delayer([&] {
            while (sending) {
                std::this_thread::sleep_for(20ms);
                ::kill(pid, SIGSTOP);
                std::this_thread::sleep_for(40ms);
                ::kill(pid, SIGCONT);
                ++stops;
            }
        });
        const bool sent = client.SendFile(file);
        sending = false;
        delayer.join();
        ASSERT_TRUE(sent);
        EXPECT_GE(stops, 3);
        ASSERT_TRUE(client.ReadUntil("CRC is OK\r\n", 30s)) << client.Received();
    }
    ASSERT_TRUE(sim.waitForFinished(10000));
    const QJsonArray units = ReportedUnits(dir);
    ASSERT_EQ(units.size(), 1);
    EXPECT_EQ(units[0].toObject()["result"].toString(), "crc-ok");
    EXPECT_EQ(units[0].toObject()["overrun_bytes"].toInt(-1), 0);
}

} // namespace
