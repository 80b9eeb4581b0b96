// Running the event loop until a condition holds.
#pragma once

#include <chrono>
#include <functional>

// Handles events until `done` returns true or the timeout passes; returns the last value of
// `done`. The loop sleeps in the dispatcher and looks at `done` every `poll`, so the waiting
// itself adds next to nothing to the CPU time the bench reports.
bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout,
              std::chrono::milliseconds poll = std::chrono::milliseconds(20));
