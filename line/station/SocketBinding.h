// A station's bond to a physical USB socket: the socket's /dev/serial/by-path name, resolved
// to its device at every open (an adapter plugged in again gets a new ttyUSB name), and the
// adapter learned in it (vendor, product and serial number from sysfs), checked at every unit
// so that a moved or swapped adapter is noticed. A built-in port is bound by its fixed device.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace line {

// The adapter behind a device, as its USB device in sysfs names it.
struct AdapterIdentity
{
    std::string vendor;  // idVendor, "0403"
    std::string product; // idProduct, "6001"
    std::string serial;  // serial, "A10K3XQZ"; empty when the adapter has none

    bool operator==(const AdapterIdentity&) const = default;
    // "0403:6001 serial A10K3XQZ"
    std::string Text() const;
};

// The USB adapter of a device path (any link to it resolved), from the sysfs root of
// SerialDeviceRoots: <sysTty>/<name>/device/../.. idVendor, idProduct, serial. None for a
// device without a USB adapter (a built-in UART, a pseudo-terminal).
std::optional<AdapterIdentity> AdapterOf(const std::string& device);

// Whether `socket` names a socket (a by-path link under the serial root) rather than a fixed
// device.
bool IsSocketName(const std::string& socket);

// The device a socket or device name stands for now, every link resolved; empty when nothing
// is there.
std::string ResolveSocket(const std::string& socket);

// The one by-path socket present that none of `bound` names. Its name, or empty with `error`
// saying why: none, or several to choose from.
std::string LearnSocket(const std::vector<std::string>& bound, std::string& error);

// The outcome of checking a socket before a unit.
struct SocketCheck
{
    std::string device;   // the device to open; empty when there is none
    std::string problem;  // empty when the station may go on; what is wrong otherwise
    bool swapped = false; // another adapter sits in the socket: the operator must confirm
};

// The by-path socket `adapter` sits in now; empty when it is in none.
std::string SocketOf(const AdapterIdentity& adapter);

// Checks that `socket` holds a device and, when an adapter was learned for it, that adapter;
// an adapter moved to another socket is named there.
SocketCheck CheckSocket(const std::string& socket, const std::optional<AdapterIdentity>& learned);

} // namespace line
