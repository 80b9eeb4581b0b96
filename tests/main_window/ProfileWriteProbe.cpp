// Writes one key of a settings file with the rights of whoever runs it and prints "ok" or
// the error, so the settings-file tests can write as an unprivileged user; with --loop it
// rewrites the key without end, so they can kill a writer in mid-write.
#include "platform/ProfileFile.h"

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 5 || (argc == 6 && std::strcmp(argv[5], "--loop") != 0) || argc > 6) {
        std::fprintf(stderr, "usage: profile_write_probe FILE SECTION KEY VALUE [--loop]\n");
        return 2;
    }
    TIniFile ini(argv[1]);
    try {
        if (argc == 6) {
            for (unsigned long n = 0;; ++n) {
                ini.WriteString(argv[2], argv[3], argv[4] + std::to_string(n % 1000));
                if (n == 0) {
                    std::printf("writing\n");
                    std::fflush(stdout);
                }
            }
        }
        ini.WriteString(argv[2], argv[3], argv[4]);
    } catch (const Exception& e) {
        std::printf("%s\n", e.Message.c_str());
        return 0;
    }
    std::printf("ok\n");
    return 0;
}
