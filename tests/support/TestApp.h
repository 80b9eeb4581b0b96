// What the shared test main provides: the application object with its modal boxes
// replaced by recorders, so tests can check what the operator would have been shown.
#pragma once

#include "platform/Exception.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace testapp {

// Messages that TApplication::ShowException would have shown, oldest first.
std::vector<AnsiString>& ShownExceptions();

struct MessageBoxCall
{
    AnsiString text;
    AnsiString caption;
    int flags;
};
// Message boxes asked for, oldest first; each is answered with NextMessageBoxAnswer()
// (IDOK unless a test set it).
std::vector<MessageBoxCall>& MessageBoxCalls();
int& NextMessageBoxAnswer();

// Clears the recorders (each test fixture may call it in SetUp).
void ResetRecorders();

// Processes window messages until `done` returns true or the timeout passes; returns the
// last value of `done`. Sleeps a little between rounds instead of spinning.
bool ProcessUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
// Processes window messages for the whole duration.
void ProcessFor(std::chrono::milliseconds duration);

} // namespace testapp
