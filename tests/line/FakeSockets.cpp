#include "tests/line/FakeSockets.h"

#include "platform/SerialDevices.h"

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace linerig {

namespace {

void WriteAttribute(const fs::path& file, const std::string& value)
{
    std::ofstream(file) << value << "\n";
}

} // namespace

FakeSockets::FakeSockets()
{
    const fs::path root = dir_.path().toStdString();
    fs::create_directories(root / "dev");
    fs::create_directories(root / "serial" / "by-path");
    fs::create_directories(root / "sys" / "class" / "tty");
    SetSerialDeviceRoots({(root / "dev").string(), (root / "serial").string(),
                          (root / "sys" / "class" / "tty").string()});
}

FakeSockets::~FakeSockets()
{
    SetSerialDeviceRoots({});
}

QString FakeSockets::Socket(const QString& name) const
{
    return dir_.filePath("serial/by-path/" + name);
}

void FakeSockets::Plug(const QString& name, const QString& device, const line::AdapterIdentity& id)
{
    const fs::path root = dir_.path().toStdString();
    const std::string tty = fs::canonical(device.toStdString()).filename().string();
    // The adapter's USB device, its interface, and the tty under it, as sysfs nests them;
    // the socket's name keeps adapters in different sockets apart.
    const fs::path usb = root / "sys" / "devices" / name.toStdString();
    const fs::path node = usb / "1.0" / tty;
    fs::create_directories(node);
    WriteAttribute(usb / "idVendor", id.vendor);
    WriteAttribute(usb / "idProduct", id.product);
    WriteAttribute(usb / "serial", id.serial);
    const fs::path classDir = root / "sys" / "class" / "tty" / tty;
    fs::remove_all(classDir);
    fs::create_directories(classDir);
    fs::create_directory_symlink(node, classDir / "device");
    const fs::path link = Socket(name).toStdString();
    fs::remove(link);
    fs::create_symlink(device.toStdString(), link);
}

void FakeSockets::Unplug(const QString& name)
{
    fs::remove(Socket(name).toStdString());
}

} // namespace linerig
