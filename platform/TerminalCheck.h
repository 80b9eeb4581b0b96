// Whether an output goes to a terminal, and how wide it is: a command shows a live progress
// bar only to a person, and plain lines to a script or a file.
#pragma once

// True when the descriptor is a terminal.
bool IsTerminal(int fd);
// The terminal's width in columns; `fallback` when it tells none.
int TerminalColumns(int fd, int fallback);
