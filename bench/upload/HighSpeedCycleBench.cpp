// Runs whole upload cycles through the real main window (offscreen) against orvix-sim at a
// high emulated line speed and prints each run's outcome and the count that passed. A run
// passes when the status bar ends on the CRC verdict "OK" and the unit's report shows no
// overrun. Meant to be run while the machine is busy: see scripts/bench-high-speed.sh.
//   build/bin/high_speed_cycle_bench [runs (20)] [baud (3000000)]
#include "app/Uploader.h"
#include "platform/Application.h"
#include "tests/upload_cycle/UnitBench.h"

#include <QJsonObject>
#include <QPushButton>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

using namespace std::chrono_literals;

namespace {

struct Run
{
    bool passed = false;
    QString detail;
};

Run OneCycle(int baud)
{
    unitbench::SimulatedUnit unit(ORVIX_SIM_PATH,
                                  {"--baud", QString::number(baud), "--program-rate", "1000000",
                                   "--pause-ms", "100", "--line-timeout", "5"});
    if (!unit.Error().isEmpty())
        return {false, unit.Error()};
    const QString path = unit.MakeFirmware("fast.out", 65536);
    if (path.isEmpty())
        return {false, "no firmware file: " + unit.Error()};
    unitbench::Uploader tool;
    tool.Click(tool.Form().ConnectButton);
    if (!tool.WaitForStatus(unitbench::Greeted))
        return {false, "no greeting"};
    tool.SelectFile(path);
    const bool verdict = tool.WaitForStatus(unitbench::CrcOk, 30s);
    unit.WaitForUnits(1, 5s);
    const QJsonArray units = unit.Units();
    if (units.isEmpty())
        return {false, "no report; status " + QString::fromStdString(tool.Status())};
    const QJsonObject cycle = units.last().toObject();
    const int overrun = cycle.value("overrun_bytes").toInt(-1);
    const QString detail =
        QString("result %1, overrun_bytes %2, xoff_sent %3, max_fill %4, download %5 s")
            .arg(cycle.value("result").toString())
            .arg(overrun)
            .arg(cycle.value("xoff_sent").toInt())
            .arg(cycle.value("max_fill").toInt())
            .arg(cycle.value("download_s").toDouble(), 0, 'f', 3);
    return {verdict && overrun == 0 && cycle.value("result").toString() == "crc-ok", detail};
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const int runs = argc > 1 ? std::atoi(argv[1]) : 20;
    const int baud = argc > 2 ? std::atoi(argv[2]) : 3000000;
    TApplication app(argc, argv);
    app.SetTitle("Tallowmere Orvix-500 Firmware Uploader");
    app.SetExceptionSink([](const AnsiString& message) {
        std::fprintf(stderr, "exception shown: %s\n", message.c_str());
    });
    int passed = 0;
    int inARow = 0;
    int longestRow = 0;
    for (int n = 1; n <= runs; ++n) {
        const Run run = OneCycle(baud);
        passed += run.passed ? 1 : 0;
        inARow = run.passed ? inARow + 1 : 0;
        longestRow = std::max(longestRow, inARow);
        std::printf("run %2d: %s  %s\n", n, run.passed ? "passed" : "FAILED",
                    run.detail.toLocal8Bit().constData());
        std::fflush(stdout);
    }
    std::printf("whole cycles at %d bit/s: %d of %d passed (longest run in a row %d)\n", baud,
                passed, runs, longestRow);
    return passed == runs ? 0 : 1;
}
