// Prints how long the upload of a 256 KiB firmware file takes against the line-rate limit,
// with the tool's CPU time, and the tool's CPU use while a unit holds the line with XOFF
// for five seconds. The real main window on the offscreen platform, against orvix-sim.
#include "app/Uploader.h"
#include "platform/Application.h"
#include "tests/upload_cycle/UnitBench.h"

#include <QFileInfo>
#include <QJsonObject>
#include <QPushButton>
#include <chrono>
#include <cstdio>
#include <ctime>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int LineBaud = 115200;
constexpr qint64 FileTarget = 256 * 1024;

// CPU time of this process (every thread), in seconds.
double CpuSeconds()
{
    return double(std::clock()) / CLOCKS_PER_SEC;
}

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

int Fail(const QString& what)
{
    std::fprintf(stderr, "upload_bench: %s\n", what.toLocal8Bit().constData());
    return 1;
}

// Makes a firmware file of about FileTarget bytes (S-records take about 2.4 characters a
// byte of image).
QString MakeFile(unitbench::SimulatedUnit& unit, qint64* bytes)
{
    int image = int(FileTarget * 10 / 24);
    QString path;
    for (int round = 0; round < 3; ++round) {
        path = unit.MakeFirmware("bench.out", image);
        if (path.isEmpty())
            return {};
        const qint64 size = QFileInfo(path).size();
        image = int(qint64(image) * FileTarget / size);
        *bytes = size;
    }
    return path;
}

int UploadAtLineRate()
{
    unitbench::SimulatedUnit unit(
        ORVIX_SIM_PATH, {"--baud", QString::number(LineBaud), "--program-rate", "1000000"});
    if (!unit.Error().isEmpty())
        return Fail(unit.Error());
    qint64 bytes = 0;
    const QString path = MakeFile(unit, &bytes);
    if (path.isEmpty())
        return Fail(unit.Error());
    unitbench::Uploader tool;
    tool.Click(tool.Form().ConnectButton);
    if (!tool.WaitForStatus("Connection established"))
        return Fail("no greeting");

    const double cpu0 = CpuSeconds();
    const auto t0 = Clock::now();
    tool.SelectFile(path);
    const double elapsed = Seconds(Clock::now() - t0);
    const double cpu = CpuSeconds() - cpu0;
    const double limit = double(bytes) * 10 / LineBaud;
    unit.WaitForUnits(1, 30s);
    const QJsonArray units = unit.Units();
    const QString result =
        units.isEmpty() ? "none" : units.last().toObject().value("result").toString();
    // On a pty the last Write returns while the file's tail still waits in the pty for the
    // unit (it has no transmit queue to keep shallow): the unit's own download time is the
    // time the line was busy.
    const double download =
        units.isEmpty() ? 0 : units.last().toObject().value("download_s").toDouble();

    std::printf("upload of %lld bytes at %d bit/s\n", (long long)bytes, LineBaud);
    std::printf("  line-rate limit   %8.3f s\n", limit);
    std::printf("  transfer time     %8.3f s  (%+.2f %% over the limit)\n", elapsed,
                (elapsed / limit - 1) * 100);
    std::printf("  unit's download   %8.3f s  (%+.2f %% over the limit)\n", download,
                (download / limit - 1) * 100);
    std::printf("  tool CPU time     %8.3f s  (%.1f %% of a core)\n", cpu, cpu / elapsed * 100);
    std::printf("  status            %s\n", tool.Status().c_str());
    std::printf("  unit's result     %s\n", result.toLocal8Bit().constData());
    return 0;
}

int CpuWhileHeld()
{
    unitbench::SimulatedUnit unit(ORVIX_SIM_PATH,
                                  {"--baud", QString::number(LineBaud), "--fault", "never-xon"});
    if (!unit.Error().isEmpty())
        return Fail(unit.Error());
    const QString path = unit.MakeFirmware("held.out", 32768);
    if (path.isEmpty())
        return Fail(unit.Error());
    unitbench::Uploader tool;
    tool.Click(tool.Form().ConnectButton);
    if (!tool.WaitForStatus("Connection established"))
        return Fail("no greeting");

    constexpr auto HoldFor = 5s;
    Clock::time_point heldSince{};
    double cpuAtHold = 0;
    double heldSeconds = 0;
    double heldCpu = 0;
    bool cancelled = false;
    // A coarse watch, so that the watching itself costs next to nothing.
    tool.SelectFile(
        path,
        [&] {
            if (cancelled || !tool.Form().XoffShown())
                return;
            const auto now = Clock::now();
            if (heldSince == Clock::time_point{}) {
                heldSince = now;
                cpuAtHold = CpuSeconds();
                return;
            }
            if (now - heldSince < HoldFor)
                return;
            heldSeconds = Seconds(now - heldSince);
            heldCpu = CpuSeconds() - cpuAtHold;
            cancelled = true;
            tool.Click(tool.Form().bCancel);
        },
        100ms);
    if (!cancelled)
        return Fail("the unit never held the line");
    std::printf("unit holding the line (never sends XON), then Cancel\n");
    std::printf("  held for          %8.3f s\n", heldSeconds);
    std::printf("  tool CPU time     %8.3f s  (%.2f %% of a core)\n", heldCpu,
                heldCpu / heldSeconds * 100);
    std::printf("  status            %s\n", tool.Status().c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    app.SetTitle("Tallowmere Orvix-500 Firmware Uploader");
    app.SetExceptionSink([](const AnsiString& message) {
        std::fprintf(stderr, "exception shown: %s\n", message.c_str());
    });
    if (const int rc = UploadAtLineRate())
        return rc;
    return CpuWhileHeld();
}
