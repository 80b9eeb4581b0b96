// Waiting for file descriptors until a steady-clock deadline: the one wait that the serial
// driver, the pseudo-terminal helpers and the simulator's line share.
#pragma once

#include <chrono>
#include <poll.h>

// Waits for any of the descriptors' events until the deadline (time_point::max() waits
// without limit), with sub-millisecond precision, so a caller's loop never spins in the last
// fraction of a millisecond. EINTR is retried. Returns true when an event arrived, false when
// the deadline passed first (or poll failed, which cannot happen with valid descriptors; the
// call then pauses 10 ms so a caller's loop cannot spin on it).
bool PollUntil(pollfd* fds, nfds_t count, std::chrono::steady_clock::time_point deadline);
