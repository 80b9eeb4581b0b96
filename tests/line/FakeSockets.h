// A machine's USB sockets laid out in a temporary folder, as udev and sysfs show them: a
// /dev/serial/by-path link per socket to its device, and under sys/class/tty the device's
// USB adapter with its vendor, product and serial number. The devices themselves are real
// (the simulators' pseudo-terminals); SetSerialDeviceRoots points the line at this folder
// while the object lives.
#pragma once

#include "line/station/SocketBinding.h"

#include <QString>
#include <QTemporaryDir>

namespace linerig {

class FakeSockets
{
public:
    FakeSockets();
    ~FakeSockets();
    FakeSockets(const FakeSockets&) = delete;
    FakeSockets& operator=(const FakeSockets&) = delete;

    // The by-path name of socket `name` ("pci-0000:00:14.0-usb-0:2:1.0-port0").
    QString Socket(const QString& name) const;
    // Plugs an adapter of `id` into socket `name`, its device being `device` (followed to the
    // device node, whose name sysfs knows it by).
    void Plug(const QString& name, const QString& device, const line::AdapterIdentity& id);
    void Unplug(const QString& name);

private:
    QTemporaryDir dir_;
};

} // namespace linerig
