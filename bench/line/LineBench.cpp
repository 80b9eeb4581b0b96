// Prints what a production line costs when its stations all program at once: 8 stations (or
// --stations N) in one process, each against its own simulated unit on a paced pty link, the
// line's real window shown on Qt's offscreen platform and grabbed every 100 ms as a screen
// would draw it. For each station the unit's download time over the time its bytes take on
// the line; for the process its CPU time as a share of one core, its peak memory, and the
// window's frame time.
//   build/bin/line_bench
//   build/bin/line_bench --stations 16 --baud 921600
//   build/bin/line_bench --image-kib 32 --program-rate 1000000
#include "bench/engine/EventWait.h"
#include "bench/engine/SimLink.h"
#include "line/core/Line.h"
#include "line/window/LineWindow.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <sys/resource.h>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto GrabInterval = 100ms;
// The window on a line's full-HD screen, less the desktop's panels: 8 tiles shown whole, 16
// scrolled.
constexpr QSize WindowSize{1840, 1000};
constexpr auto RunBound = 300s;
// Goals the figures are read against.
constexpr double RatioGoal = 1.05;
constexpr double CpuGoalPercent = 10;
constexpr double MemoryGoalMb = 80;

struct Settings
{
    int stations = 8;
    unsigned baud = 115200;
    int imageKib = 64;
    QString programRate = "1000000";
};

double ProcessCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double ThreadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}

int Fail(const QString& what)
{
    std::fprintf(stderr, "line_bench: %s\n", what.toLocal8Bit().constData());
    return 2;
}

bool Parse(const QStringList& args, Settings& s)
{
    for (int i = 0; i + 1 < args.size(); i += 2) {
        bool ok = true;
        if (args[i] == "--stations")
            s.stations = args[i + 1].toInt(&ok);
        else if (args[i] == "--baud")
            s.baud = args[i + 1].toUInt(&ok);
        else if (args[i] == "--image-kib")
            s.imageKib = args[i + 1].toInt(&ok);
        else if (args[i] == "--program-rate")
            s.programRate = args[i + 1];
        else
            return false;
        if (!ok)
            return false;
    }
    return args.size() % 2 == 0 && s.stations >= line::MinStations &&
           s.stations <= line::MaxStations && s.baud > 0 && s.imageKib > 0;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    Settings settings;
    if (!Parse(app.arguments().mid(1), settings))
        return Fail("usage: line_bench [--stations 1..16] [--baud N] [--image-kib N] "
                    "[--program-rate N]");
    QTemporaryDir dir;
    if (!dir.isValid())
        return Fail("no temporary folder");
    const QString firmware = dir.filePath("firmware.out");
    if (const QString error =
            SimLink::MakeFirmware(ORVIX_SIM_PATH, firmware, settings.imageKib * 1024);
        !error.isEmpty())
        return Fail(error);

    // One unit per station, which greets once and then waits: every station programs one
    // unit, all at the same time.
    std::vector<std::unique_ptr<SimLink>> units;
    QByteArray ini = "[Line]\nStations=" + QByteArray::number(settings.stations) +
                     "\nFirmware=" + firmware.toUtf8() + "\n";
    for (int i = 0; i < settings.stations; ++i) {
        units.push_back(std::make_unique<SimLink>(
            ORVIX_SIM_PATH, dir.path(), QString::number(i + 1),
            QStringList{"--baud", QString::number(settings.baud), "--program-rate",
                        settings.programRate, "--greet-after", "0", "--pause-ms", "100"}));
        if (!units.back()->Error().isEmpty())
            return Fail(units.back()->Error());
        ini += "[Station" + QByteArray::number(i + 1) +
               "]\nSocket=" + units.back()->Link().toUtf8() +
               "\nBaud=" + QByteArray::number(settings.baud) + "\n";
    }
    QFile iniFile(dir.filePath("OrvixLine.ini"));
    if (!iniFile.open(QIODevice::WriteOnly) || iniFile.write(ini) != ini.size())
        return Fail("OrvixLine.ini not written");
    iniFile.close();

    line::Line productionLine(dir.path().toStdString());
    line::LineWindow window(productionLine);
    window.resize(WindowSize);
    window.show();

    // Frames: the whole window drawn every 100 ms, on this thread, as the display would.
    std::vector<double> frameMs;
    double grabCpu = 0;
    QTimer frames;
    frames.setInterval(GrabInterval);
    QObject::connect(&frames, &QTimer::timeout, [&] {
        const double cpu0 = ThreadCpuSeconds();
        const auto t0 = Clock::now();
        const QPixmap frame = window.grab();
        frameMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        grabCpu += ThreadCpuSeconds() - cpu0;
    });

    const double cpu0 = ProcessCpuSeconds();
    const auto t0 = Clock::now();
    frames.start();
    productionLine.StartAll();
    const bool done = RunUntil(
        [&] {
            for (int i = 0; i < productionLine.Count(); ++i)
                if (productionLine.At(i).View().units < 1)
                    return false;
            return true;
        },
        std::chrono::duration_cast<std::chrono::milliseconds>(RunBound), 20ms);
    frames.stop();
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    const double cpu = ProcessCpuSeconds() - cpu0;

    std::printf("%d stations at once, %lld bytes each (%d KiB image), %u bit/s, program rate %s "
                "bytes/s, window offscreen%s\n",
                settings.stations, (long long)QFileInfo(firmware).size(), settings.imageKib,
                settings.baud, settings.programRate.toLocal8Bit().constData(),
                done ? "" : " (NOT ALL DONE)");
    int failures = done ? 0 : 1;
    double worst = 0;
    for (int i = 0; i < productionLine.Count(); ++i) {
        const auto cycle = units[std::size_t(i)]->WaitForCycle(5s);
        const double download = cycle ? cycle->value("download_s").toDouble() : 0;
        const double lineTime = cycle ? cycle->value("bytes").toDouble() * 10 / settings.baud : 0;
        const double ratio = lineTime > 0 ? download / lineTime : 0;
        worst = std::max(worst, ratio);
        const line::StationView view = productionLine.At(i).View();
        const bool passed = view.passed == 1;
        failures += !passed || ratio > RatioGoal;
        std::printf("  %-11s download %7.3f s / line time %7.3f s = %6.4f  (goal <= %.2f)  %s\n",
                    productionLine.At(i).Settings().name.c_str(), download, lineTime, ratio,
                    RatioGoal, passed ? "crc-ok" : view.status.c_str());
    }
    const double cpuPercent = 100 * cpu / wall;
    const double stationCpuPercent = 100 * (cpu - grabCpu) / wall;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double peakMb = double(usage.ru_maxrss) / 1024;
    // The first frame lays the window out and loads its fonts; the others are the steady state.
    const double firstFrame = frameMs.empty() ? 0.0 : frameMs.front();
    if (!frameMs.empty())
        frameMs.erase(frameMs.begin());
    std::sort(frameMs.begin(), frameMs.end());
    const auto at = [&](double q) {
        return frameMs.empty() ? 0.0 : frameMs[std::size_t(q * double(frameMs.size() - 1))];
    };
    std::printf("  worst ratio                 %6.4f\n", worst);
    std::printf("  run                         %7.2f s wall\n", wall);
    std::printf("  CPU, whole process          %6.2f %% of one core (goal <= %.0f %%)\n",
                cpuPercent, CpuGoalPercent);
    std::printf("  CPU, without the frames     %6.2f %% of one core\n", stationCpuPercent);
    std::printf("  peak memory (maxrss)        %6.1f MB (goal <= %.0f MB)\n", peakMb, MemoryGoalMb);
    std::printf("  frame time (grab, %zu frames) median %.1f ms, 95th %.1f ms, max %.1f ms "
                "(first %.1f ms)\n",
                frameMs.size(), at(0.5), at(0.95), at(1.0), firstFrame);
    failures += cpuPercent > CpuGoalPercent || peakMb > MemoryGoalMb;
    return failures ? 1 : 0;
}
