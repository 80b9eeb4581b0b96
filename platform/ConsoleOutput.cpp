#include "platform/ConsoleOutput.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

int WriteAnswer(const std::string& program, const std::string& text)
{
    errno = 0;
    const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    if (std::fflush(stdout) == 0 && written)
        return 0;
    const int error = errno;
    std::fprintf(stderr, "%s: cannot write standard output: %s\n", program.c_str(),
                 error ? std::strerror(error) : "write failed");
    return 1;
}
