// The count of packets received while a file is sent, since the last progress dot.
#pragma once

// Program-wide on purpose, 0 at start: nothing resets it when a dialogue or a transfer
// begins, so a new transfer goes on counting where the previous one stopped.
extern int DotCounter;
