#include "platform/TerminalCheck.h"

#include <sys/ioctl.h>
#include <unistd.h>

bool IsTerminal(int fd)
{
    return isatty(fd) == 1;
}

int TerminalColumns(int fd, int fallback)
{
    winsize size{};
    if (ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0)
        return fallback;
    return size.ws_col;
}
