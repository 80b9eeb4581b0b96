// The firmware check on a large file: an S3-record file of about 20 MB (32 data bytes per
// record) is checked, and its SHA-256 taken, as the tool does before the first byte goes out.
// Prints the best of five runs of each.
#include "upload/FirmwareCheck.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string Record(char type, std::uint32_t address, const std::uint8_t* data, int count)
{
    std::uint8_t bytes[64];
    int n = 0;
    const int addressBytes = type == '3' || type == '7' ? 4 : 2;
    bytes[n++] = std::uint8_t(addressBytes + count + 1);
    for (int i = addressBytes - 1; i >= 0; --i)
        bytes[n++] = std::uint8_t(address >> (8 * i));
    for (int i = 0; i < count; ++i)
        bytes[n++] = data[i];
    unsigned sum = 0;
    for (int i = 0; i < n; ++i)
        sum += bytes[i];
    bytes[n++] = std::uint8_t(~sum);
    std::string line = "S";
    line += type;
    char hex[3];
    for (int i = 0; i < n; ++i) {
        std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
        line += hex;
    }
    return line + "\r\n";
}

template <typename F> double BestSeconds(F run)
{
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        best = std::min(
            best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    const double megabytes = argc > 1 ? std::atof(argv[1]) : 20.0;
    const auto target = std::size_t(megabytes * 1e6);
    std::string file = "S00600004844521B\r\n";
    std::uint8_t data[32];
    std::uint32_t address = 0;
    while (file.size() < target) {
        for (int i = 0; i < 32; ++i)
            data[i] = std::uint8_t((address + i) * 7 + 3);
        file += Record('3', address, data, 32);
        address += 32;
    }
    file += Record('7', 0, data, 0);

    upload::FirmwareCheckResult result;
    const double check = BestSeconds([&] { result = upload::CheckFirmware(file); });
    if (!result.ok) {
        std::printf("the generated file failed the check: %s\n", result.FailureText().c_str());
        return 1;
    }
    const QByteArray bytes = QByteArray::fromRawData(file.data(), qsizetype(file.size()));
    const double hash =
        BestSeconds([&] { (void)QCryptographicHash::hash(bytes, QCryptographicHash::Sha256); });
    std::printf("firmware check: %.1f MB, %llu records, %llu image bytes\n",
                double(file.size()) / 1e6, static_cast<unsigned long long>(result.facts.records),
                static_cast<unsigned long long>(result.facts.imageBytes));
    std::printf("  check   %7.1f ms  (%.0f MB/s)\n", check * 1e3,
                double(file.size()) / 1e6 / check);
    std::printf("  SHA-256 %7.1f ms  (%.0f MB/s)\n", hash * 1e3, double(file.size()) / 1e6 / hash);
    return 0;
}
