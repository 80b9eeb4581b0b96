// Prints how close upload engines come to the line rate when one process drives several units
// at once: two stations, each an engine over its own port, program two simulated units on
// paced pty links at the same time, and each unit's download time is set against the time
// its bytes take on the line. With --unpaced, one station sends to a unit that takes bytes
// as fast as they come, and the figures are the engine's throughput and CPU cost per MB.
//   build/bin/engine_bench [--program-rate N] [--image-kib N]
//   build/bin/engine_bench --unpaced [--program-rate N] [--image-kib N]
#include "bench/engine/EventWait.h"
#include "bench/engine/SimLink.h"
#include "bench/engine/StationHost.h"
#include "platform/PortNames.h"
#include "upload/UnitRecord.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <memory>
#include <sys/resource.h>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint32_t LineBaud = 115200;
constexpr auto GreetingWait = 15s;
constexpr auto CycleWait = 120s;

struct Settings
{
    bool unpaced = false;
    // The paced units drain their buffer far faster than the line fills it, so the line is
    // the only limit and the unit's download time is the time the line was kept busy.
    QString programRate;
    int imageKib = 0;
};

// User and system time of every thread of this process, in seconds.
double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

int Fail(const QString& what)
{
    std::fprintf(stderr, "engine_bench: %s\n", what.toLocal8Bit().constData());
    return 2;
}

upload::FirmwareFile ReadFirmware(const QString& path)
{
    upload::FirmwareFile file;
    file.path = path.toStdString();
    file.absolutePath = QFileInfo(path).absoluteFilePath().toStdString();
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        file.error = in.errorString().toStdString();
        return file;
    }
    const QByteArray bytes = in.readAll();
    file.opened = true;
    file.bytes.assign(bytes.constData(), std::size_t(bytes.size()));
    return file;
}

// A station and its unit, with what the run saw of them.
struct Station
{
    std::unique_ptr<SimLink> unit;
    std::unique_ptr<StationHost> host;
    Clock::duration toResult{};
    bool ended = false;

    bool Ended() const
    {
        if (host->FinalStatus())
            return true;
        // Cancelled, a send error or no result: the engine records the cycle and shows no
        // final status of the unit's.
        const auto& record = host->Record();
        return record && !host->Engine().Transferring();
    }
    std::string Outcome() const
    {
        if (const auto& record = host->Record())
            return std::string(upload::OutcomeName(record->outcome));
        if (const auto& status = host->FinalStatus())
            if (const auto outcome = upload::OutcomeOfStatus(*status))
                return std::string(upload::OutcomeName(*outcome));
        return "none";
    }
};

// Starts the units, opens the stations' ports and has each unit greet its station.
QString Prepare(std::vector<Station>& stations, const QString& dir, const QStringList& options)
{
    std::map<unsigned, std::string> ports;
    for (std::size_t i = 0; i < stations.size(); ++i) {
        const unsigned port = unsigned(2 + i);
        stations[i].unit =
            std::make_unique<SimLink>(ORVIX_SIM_PATH, dir, "unit" + QString::number(port), options);
        if (!stations[i].unit->Error().isEmpty())
            return stations[i].unit->Error();
        ports[port] = stations[i].unit->Link().toStdString();
    }
    SetPortMap(ports);
    for (std::size_t i = 0; i < stations.size(); ++i) {
        const unsigned port = unsigned(2 + i);
        stations[i].host =
            std::make_unique<StationHost>("COM" + std::to_string(port), port, LineBaud);
        const std::string error = stations[i].host->Open();
        if (!error.empty())
            return QString::fromStdString(stations[i].host->Name() + ": " + error);
        stations[i].host->Engine().Connect("");
    }
    const bool greeted = RunUntil(
        [&] {
            for (const Station& s : stations)
                if (s.host->Engine().DialogueState() != upload::Connected)
                    return false;
            return true;
        },
        GreetingWait);
    if (!greeted)
        return "no greeting within 15 s (status: " +
               QString::fromStdString(stations.front().host->LastStatus()) + ")";
    return {};
}

// Sends the file from every station at once and runs until each has a result; the CPU
// seconds the process used meanwhile.
double TransferAll(std::vector<Station>& stations, const upload::FirmwareFile& file)
{
    const double cpu0 = CpuSeconds();
    const auto t0 = Clock::now();
    for (Station& s : stations)
        s.host->Engine().Transfer(file);
    RunUntil(
        [&] {
            bool all = true;
            for (Station& s : stations) {
                if (!s.ended && s.Ended()) {
                    s.ended = true;
                    s.toResult = Clock::now() - t0;
                }
                all = all && s.ended;
            }
            return all;
        },
        CycleWait, 10ms);
    return CpuSeconds() - cpu0;
}

int Paced(const Settings& settings)
{
    QTemporaryDir dir;
    if (!dir.isValid())
        return Fail("no temporary directory");
    const QString firmware = dir.filePath("paced.out");
    const QString made = SimLink::MakeFirmware(ORVIX_SIM_PATH, firmware, settings.imageKib * 1024);
    if (!made.isEmpty())
        return Fail(made);
    const upload::FirmwareFile file = ReadFirmware(firmware);

    std::vector<Station> stations(2);
    const QString error =
        Prepare(stations, dir.path(),
                {"--baud", QString::number(LineBaud), "--program-rate", settings.programRate});
    if (!error.isEmpty())
        return Fail(error);
    const double cpu = TransferAll(stations, file);

    std::printf("two stations at once, %s bytes each (%d KiB image), units paced at %u bit/s, "
                "program rate %s bytes/s\n",
                QString::number(file.bytes.size()).toLocal8Bit().constData(), settings.imageKib,
                LineBaud, settings.programRate.toLocal8Bit().constData());
    int failures = 0;
    std::uint64_t sent = 0;
    for (Station& s : stations) {
        const auto cycle = s.unit->WaitForCycle(5s);
        const double download = cycle ? cycle->value("download_s").toDouble() : 0;
        const double unitBytes = cycle ? cycle->value("bytes").toDouble() : 0;
        // The unit's download time covers the bytes it received as records, so its own count
        // gives the line time to set against it.
        const double lineTime = unitBytes * 10 / LineBaud;
        const std::string outcome = s.Outcome();
        sent += s.host->BytesSent();
        std::printf("  %s\n", s.host->Name().c_str());
        std::printf("    bytes sent / unit's bytes  %llu / %.0f\n",
                    (unsigned long long)s.host->BytesSent(), unitBytes);
        std::printf("    unit's download            %8.3f s\n", download);
        std::printf("    line time of its bytes     %8.3f s\n", lineTime);
        std::printf("    ratio                      %8.4f  (goal <= 1.05)\n",
                    lineTime > 0 ? download / lineTime : 0.0);
        std::printf("    time to the result         %8.3f s\n", Seconds(s.toResult));
        std::printf("    unit's XOFFs / max fill    %lld / %lld\n",
                    cycle ? (long long)cycle->value("xoff_sent").toInteger() : -1,
                    cycle ? (long long)cycle->value("max_fill").toInteger() : -1);
        std::printf("    unit's result              %s\n",
                    cycle ? cycle->value("result").toString().toLocal8Bit().constData() : "none");
        std::printf("    outcome                    %s  (\"%s\")\n", outcome.c_str(),
                    s.host->FinalStatus().value_or(s.host->LastStatus()).c_str());
        if (outcome != "crc-ok")
            ++failures;
    }
    const double mb = double(sent) / 1e6;
    std::printf("  process CPU time             %8.3f s for %.3f MB sent: %.3f s/MB\n", cpu, mb,
                mb > 0 ? cpu / mb : 0.0);
    return failures ? 1 : 0;
}

int Unpaced(const Settings& settings)
{
    QTemporaryDir dir;
    if (!dir.isValid())
        return Fail("no temporary directory");
    const QString firmware = dir.filePath("unpaced.out");
    const QString made = SimLink::MakeFirmware(ORVIX_SIM_PATH, firmware, settings.imageKib * 1024);
    if (!made.isEmpty())
        return Fail(made);
    const upload::FirmwareFile file = ReadFirmware(firmware);

    // The unit takes every byte as it comes, with a buffer no file here fills, and short
    // pauses before its results: the engine and the pty are the only limits.
    std::vector<Station> stations(1);
    const QString error = Prepare(stations, dir.path(),
                                  {"--baud", "0", "--xoff-reaction-ms", "250", "--pause-ms", "100",
                                   "--line-timeout", "2", "--program-rate", settings.programRate,
                                   "--buffer", "65536", "--xoff-at", "61440"});
    if (!error.isEmpty())
        return Fail(error);
    const double cpu = TransferAll(stations, file);

    Station& s = stations.front();
    const auto cycle = s.unit->WaitForCycle(5s);
    const double download = cycle ? cycle->value("download_s").toDouble() : 0;
    const double mb = double(s.host->BytesSent()) / 1e6;
    const std::string outcome = s.Outcome();
    std::printf("one station, unpaced unit, %llu bytes (%d KiB image), program rate %s bytes/s\n",
                (unsigned long long)s.host->BytesSent(), settings.imageKib,
                settings.programRate.toLocal8Bit().constData());
    std::printf("  unit's download            %8.3f s  (%.3f MB/s)\n", download,
                download > 0 ? mb / download : 0.0);
    std::printf("  time to the result         %8.3f s  (%.3f MB/s, the unit's pauses included)\n",
                Seconds(s.toResult), mb / Seconds(s.toResult));
    std::printf("  unit's XOFFs / after XOFF  %lld / %s\n",
                cycle ? (long long)cycle->value("xoff_sent").toInteger() : -1,
                cycle ? QString::number(cycle->value("bytes_after_xoff").toInteger())
                            .toLocal8Bit()
                            .constData()
                      : "-");
    std::printf("  process CPU time           %8.3f s: %.3f s/MB\n", cpu, mb > 0 ? cpu / mb : 0.0);
    std::printf("  outcome                    %s  (\"%s\")\n", outcome.c_str(),
                s.host->FinalStatus().value_or(s.host->LastStatus()).c_str());
    return outcome == "crc-ok" ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    Settings settings;
    settings.unpaced = args.contains("--unpaced");
    settings.programRate = settings.unpaced ? "100000000" : "1000000";
    settings.imageKib = settings.unpaced ? 240 : 64;
    for (int i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "--program-rate")
            settings.programRate = args[i + 1];
        else if (args[i] == "--image-kib")
            settings.imageKib = args[i + 1].toInt();
    }
    if (settings.imageKib <= 0)
        return Fail("--image-kib wants a positive number");
    return settings.unpaced ? Unpaced(settings) : Paced(settings);
}
