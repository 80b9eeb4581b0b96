// Draws the line window for the documents: 8 stations against simulated units in mixed states
// (passed, failed in several ways, programming, held by its unit, halted, stopped), grabbed
// offscreen once the units are under way and saved as PNG.
//   build/bin/line_screenshot docs/line.png
#include "bench/engine/EventWait.h"
#include "bench/engine/SimLink.h"
#include "line/core/Line.h"
#include "line/window/LineWindow.h"

#include <QApplication>
#include <QFile>
#include <QPixmap>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr int ImageKib = 48;
constexpr QSize WindowSize{1500, 860};

// Each station's unit; an empty list: no unit, the station's socket stays empty.
const std::vector<QStringList> Units = {
    {"--baud", "0", "--program-rate", "10000000", "--pause-ms", "50", "--greet-after", "0"},
    {"--baud", "0", "--fault", "bad-crc", "--pause-ms", "50", "--greet-after", "0",
     "--program-rate", "10000000"},
    {"--baud", "115200", "--program-rate", "1000000"},
    {},
    {"--baud", "0", "--fault", "program-fail", "--pause-ms", "50", "--greet-after", "0",
     "--program-rate", "10000000"},
    {"--baud", "115200", "--program-rate", "4000", "--fault", "never-xon", "--line-timeout", "60"},
    {"--baud", "115200", "--program-rate", "1000000"},
    {"--baud", "0", "--program-rate", "10000000", "--pause-ms", "50", "--greet-after", "0.3"},
};
// The station the operator has stopped.
constexpr int StoppedStation = 6;

int Fail(const QString& what)
{
    std::fprintf(stderr, "line_screenshot: %s\n", what.toLocal8Bit().constData());
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (app.arguments().size() != 2)
        return Fail("usage: line_screenshot OUT.png");
    QTemporaryDir dir;
    const QString firmware = dir.filePath("orvix-2.4.out");
    if (const QString error = SimLink::MakeFirmware(ORVIX_SIM_PATH, firmware, ImageKib * 1024);
        !error.isEmpty())
        return Fail(error);
    std::vector<std::unique_ptr<SimLink>> units;
    QByteArray ini = "[Line]\nStations=" + QByteArray::number(qsizetype(Units.size())) +
                     "\nFirmware=" + firmware.toUtf8() + "\n";
    for (std::size_t i = 0; i < Units.size(); ++i) {
        const QByteArray section = "[Station" + QByteArray::number(qsizetype(i + 1)) + "]\n";
        if (Units[i].isEmpty()) {
            ini += section + "Socket=/dev/serial/by-path/pci-0000:00:14.0-usb-0:4:1.0-port0\n";
            continue;
        }
        units.push_back(std::make_unique<SimLink>(ORVIX_SIM_PATH, dir.path(),
                                                  QString::number(i + 1), Units[i]));
        if (!units.back()->Error().isEmpty())
            return Fail(units.back()->Error());
        ini += section + "Socket=" + units.back()->Link().toUtf8() + "\n";
    }
    QFile iniFile(dir.filePath("OrvixLine.ini"));
    if (!iniFile.open(QIODevice::WriteOnly) || iniFile.write(ini) != ini.size())
        return Fail("OrvixLine.ini not written");
    iniFile.close();

    line::Line productionLine(dir.path().toStdString());
    line::LineWindow window(productionLine);
    window.resize(WindowSize);
    window.show();
    productionLine.StartAll();
    productionLine.At(StoppedStation).Stop();
    // Long enough for the quick units to get their verdicts and the held one to show its age,
    // short enough for the paced transfer to be still running.
    RunUntil([] { return false; }, 7s);
    window.Refresh();
    if (!window.grab().save(app.arguments()[1]))
        return Fail("cannot write " + app.arguments()[1]);
    productionLine.StopAll();
    return 0;
}
