// Opens a port with the rights of whoever runs it and prints the outcome as
// "<result number> <reason>": the serial driver tests run it as an unprivileged user to
// see a port that user may not open.
#include "platform/SerialPort.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: serial_open_probe <port>\n");
        return 2;
    }
    SerialResult result = SerialResult::Ok;
    std::string reason;
    const auto port = SerialPort::Open(argv[1], &result, &reason);
    std::printf("%d %s\n", static_cast<int>(result), reason.c_str());
    return 0;
}
