// The serial devices present on this machine, with the stable names udev gives them under
// /dev/serial/by-id (one adapter, whichever socket) and /dev/serial/by-path (one socket,
// whichever adapter of the kind).
#pragma once

#include <string>
#include <vector>

// Where the devices are looked for. Replaceable, so tests can lay out a machine of their own.
struct SerialDeviceRoots
{
    std::string dev = "/dev";              // ttyUSB*, ttyACM*, ttyAMA*, rfcomm*, ttyS*
    std::string serial = "/dev/serial";    // by-id/ and by-path/ links
    std::string sysTty = "/sys/class/tty"; // ttyS*/type: 0 for a port without a UART
};
void SetSerialDeviceRoots(SerialDeviceRoots roots);
SerialDeviceRoots GetSerialDeviceRoots();

struct FoundSerialDevice
{
    std::string path;                     // the device itself, e.g. /dev/ttyUSB0
    std::vector<std::string> stableNames; // the by-id links first, then the by-path ones
};

// Every device found, ordered by path. Devices known only through a stable name (its target
// outside the dev root) are listed too.
std::vector<FoundSerialDevice> ListSerialDevices();

// "/dev/ttyUSB0 (/dev/serial/by-id/usb-FTDI_...-port0, /dev/serial/by-path/...)", or the path
// alone without stable names.
std::string SerialDeviceText(const FoundSerialDevice& device);
// All devices in one text, separated by "; ", or "none".
std::string SerialDevicesText(const std::vector<FoundSerialDevice>& devices);
