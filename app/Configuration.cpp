// The window's configuration: Uploader.ini in the current directory at start-up, section
// SystemSection with the keys Port, Baud and FileName, and the optional port map [Ports].
#include "app/Uploader.h"
#include "components/QuickLogFile.h"
#include "platform/OpenDialog.h"
#include "platform/PortNames.h"
#include "platform/ProfileFile.h"

#include <QComboBox>
#include <array>
#include <filesystem>

namespace {

constexpr const char* Section = "SystemSection";
constexpr std::array<const char*, 4> PortNames{"COM1", "COM2", "COM3", "COM4"};

// The entry of the port box for a stored port text: an exact match (with case), else COM2.
int PortIndexOf(const AnsiString& stored)
{
    for (std::size_t i = 0; i < PortNames.size(); ++i)
        if (stored == PortNames[i])
            return int(i);
    return 1;
}

AnsiString BoxText(const QComboBox* box)
{
    return box->currentText().toLocal8Bit().toStdString();
}

// The port number of a name "COM" + decimal digits, or 0.
unsigned PortNumberOf(const AnsiString& name)
{
    if (name.size() < 4 || name.size() > 12)
        return 0;
    for (std::size_t i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i])
            return 0;
    unsigned long long n = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return 0;
        n = n * 10 + unsigned(name[i] - '0');
    }
    return n > 0 && n <= 0xFFFFFFFFull ? unsigned(n) : 0;
}

} // namespace

void TForm1::LoadConfiguration()
{
    // The path is fixed now: later saves go here even if the current directory changes.
    const AnsiString path = std::filesystem::current_path().string() + "/Uploader.ini";
    LogFile->Log("initialization : ini file : " + path);
    FIniFile = std::make_unique<TIniFile>(path);

    const AnsiString port = FIniFile->ReadString(Section, "Port", "COM2");
    cbComPort->setCurrentIndex(PortIndexOf(port));
    LogFile->Log(path);
    LogFile->Log("initialization : com port : " + port);

    const AnsiString baud = FIniFile->ReadString(Section, "Baud", "115200");
    cbBaudRate->setEditText(QString::fromLocal8Bit(baud.data(), qsizetype(baud.size())));
    LogFile->Log("initialization : BaudRate : " + BoxText(cbBaudRate));

    OpenDialog1->FileName = FIniFile->ReadString(Section, "FileName", "");
    LogFile->Log("initialization : fileName : " + OpenDialog1->FileName);

    // The port map of this machine: COMn -> device path. Entries whose key is no port name
    // are listed in the log but not used.
    std::map<unsigned, std::string> map;
    AnsiString entries;
    for (const auto& [key, value] : FIniFile->ReadSection("Ports")) {
        entries += (entries.empty() ? "" : ", ") + key + "=" + value;
        if (const unsigned n = PortNumberOf(key); n != 0 && !value.empty() && !map.count(n))
            map[n] = value;
    }
    SetPortMap(map);
    if (!entries.empty())
        LogFile->Log("initialization : port map : " + entries);
}
