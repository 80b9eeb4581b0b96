// "port_advice_probe PATH" opens the device with the rights of whoever runs it and prints the
// advice for the outcome, one line each. "port_advice_probe --hold PATH" opens it, prints
// "held" and keeps it until its standard input closes: run under another name (a link called
// ModemManager), it plays the program that holds a port.
#include "platform/PortAdvice.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

int main(int argc, char** argv)
{
    const bool hold = argc == 3 && std::strcmp(argv[1], "--hold") == 0;
    if (argc != 2 && !hold) {
        std::fprintf(stderr, "usage: port_advice_probe [--hold] <port>\n");
        return 2;
    }
    const char* path = argv[argc - 1];
    SerialResult result = SerialResult::Ok;
    std::string reason;
    const auto port = SerialPort::Open(path, &result, &reason);
    if (hold) {
        if (!port) {
            std::printf("%s\n", reason.c_str());
            return 1;
        }
        std::printf("held\n");
        std::fflush(stdout);
        char c;
        while (::read(STDIN_FILENO, &c, 1) > 0) {
        }
        return 0;
    }
    for (const std::string& line : PortOpenAdvice(path, result))
        std::printf("%s\n", line.c_str());
    return 0;
}
