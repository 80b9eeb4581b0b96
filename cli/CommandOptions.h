// The command line of orvix-upload: its options, their defaults and their checks, and the
// texts of --help and --version.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cli {

// The window's defaults: its line speed, log and record live in the folder it starts in.
constexpr std::uint32_t DefaultBaud = 115200;
constexpr std::chrono::seconds DefaultGreetTimeout{30};
constexpr const char* DefaultLogName = "Orvix500Upload.Log";
constexpr const char* DefaultIniName = "Uploader.ini";

struct CommandOptions
{
    std::string port;   // "COM2", mapped through [Ports]; or empty when a device is named
    std::string device; // a device path; or empty when a port is named
    std::uint32_t baud = DefaultBaud;
    std::string file;
    std::uint64_t units = 1;                                 // 0: unit after unit until stopped
    std::chrono::seconds greetTimeout = DefaultGreetTimeout; // 0: without limit
    std::optional<std::chrono::seconds> resultTimeout;       // else the engine's bound
    std::string log;
    std::string record;
    std::string ini;
    bool json = false;
};

struct ParsedCommand
{
    enum class Action
    {
        Run,
        Help,
        Version,
        Refuse, // `error` says why
    };
    Action action = Action::Run;
    CommandOptions options;
    std::string error;
};

ParsedCommand ParseCommand(const std::vector<std::string>& args);
std::string CommandHelp();
std::string CommandVersion();
std::string CommandUsage();

} // namespace cli
