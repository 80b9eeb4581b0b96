// orvix-sim: plays an Orvix-500 unit in upload mode on a pseudo-terminal or a serial device,
// or writes firmware files for it.
#include "platform/ConsoleOutput.h"
#include "platform/Exception.h"
#include "platform/LineDevice.h"
#include "sim/FirmwareMaker.h"
#include "sim/Options.h"
#include "sim/Unit.h"

#include <fstream>
#include <iostream>

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const auto options = ParseSimOptions(args, error);
    if (!options) {
        std::cerr << "orvix-sim: " << error << "\n(try --help)\n";
        return 2;
    }
    if (options->help)
        return WriteAnswer("orvix-sim", SimUsage());
    if (options->version)
        return WriteAnswer("orvix-sim", SimVersion());
    if (!options->makeFirmware.empty()) {
        std::ofstream out(options->makeFirmware, std::ios::binary | std::ios::trunc);
        const std::string text = MakeFirmwareText(options->firmware);
        out << text;
        out.close();
        if (!out) {
            std::cerr << "orvix-sim: cannot write " << options->makeFirmware << "\n";
            return 1;
        }
        return 0;
    }
    try {
        LineDevice::InstallStopSignals();
        std::unique_ptr<LineDevice> line =
            options->link.empty() ? LineDevice::OpenDevice(options->device, options->baud)
                                  : LineDevice::CreatePty(options->link);
        Unit unit(*options, *line, options->verbose ? &std::cerr : nullptr);
        return unit.Run();
    } catch (const Exception& e) {
        std::cerr << "orvix-sim: " << e.Message << "\n";
        return 1;
    }
}
