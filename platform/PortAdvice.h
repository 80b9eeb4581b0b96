// What to do about a port that did not open or failed: the reason told from what the system
// reports (the device's group and the user's groups, the programs holding the device, the
// devices present) with the usual fix, in lines for the log.
#pragma once

#include "platform/SerialPort.h"

#include <string>
#include <sys/types.h>
#include <vector>

// A program holding a device open.
struct DeviceHolder
{
    pid_t pid = 0;
    std::string name; // its command name (/proc/<pid>/comm)
};

// The programs that have `device` open, as far as this user may see into /proc/*/fd, by
// process id.
std::vector<DeviceHolder> ProgramsHolding(const std::string& device);

// Lines of advice for the port `portName` ("COM2" or a device path) that failed to open with
// `result`; empty for outcomes that have none.
std::vector<std::string> PortOpenAdvice(const std::string& portName, SerialResult result);

// For "Read Error: n" or "Send Error: n": the system's words for code n and what to do, for
// example "Input/output error: the adapter was unplugged or failed; plug it in and choose the
// port again". Empty for any other text.
std::string SerialErrorAdvice(const std::string& errorText);
