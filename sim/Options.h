// The simulator's command line.
#pragma once

#include "sim/FirmwareMaker.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct SimOptions
{
    // Line
    std::string link;   // --link PATH: a pty published under PATH
    std::string device; // --device PATH: an existing serial device
    unsigned baud = 115200;
    // Unit
    unsigned units = 0; // 0: run until stopped
    std::string report;
    std::size_t buffer = 1024;
    std::size_t xoffAt = 0; // 0: 75 % of the buffer
    std::size_t xonAt = 0;  // 0: 25 % of the buffer (an explicit 0 is kept, see xonAtGiven)
    bool xonAtGiven = false;
    double programRate = 4000;
    std::uint64_t flashSize = 1u << 20;
    unsigned xoffReactionMs = 20;
    double greetAfterS = 2;
    unsigned pauseMs = 400;   // pause before each result message
    double lineTimeoutS = 10; // no line this long during a download: failed
    bool verbose = false;
    std::uint32_t seed = 1; // noise and generated files
    // Faults
    bool badCrc = false;
    bool programFail = false;
    bool lowercaseGreeting = false;
    bool splitGreeting = false;
    bool splitResults = false;
    bool dottedResults = false;
    bool neverXon = false;
    bool noise = false;
    std::uint64_t unplugAfter = 0; // 0: never
    // bad-crc, program-fail and never-xon hit only this unit (1-based); 0: every unit
    unsigned faultUnit = 0;
    // --make-firmware
    std::string makeFirmware;
    FirmwareRecipe firmware;
    bool help = false;
    bool version = false;
};

// Parses the arguments (without the program name). On failure returns nothing and sets
// `error` to a message naming the offending option.
std::optional<SimOptions> ParseSimOptions(const std::vector<std::string>& args, std::string& error);

// The usage text printed by --help, and the line printed by --version.
std::string SimUsage();
std::string SimVersion();
