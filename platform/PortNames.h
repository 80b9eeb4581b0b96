// Resolution of the port names the tool shows ("COM1", "COM2", ...) to device paths.
#pragma once

#include <map>
#include <string>

// Replaces the map of port numbers to device paths (from the configuration's [Ports]
// section, for example 2 -> "/dev/ttyUSB0"). Thread-safe.
void SetPortMap(std::map<unsigned, std::string> map);
std::map<unsigned, std::string> PortMap();

// "COM" + n (n >= 1) gives the mapped path, or without a map entry "/dev/ttyS" + (n - 1).
// "COM0", names that are not "COM" + a decimal number, and an empty name give "". A name
// that starts with '/' is a device path and is returned unchanged.
std::string ResolvePortName(const std::string& name);
