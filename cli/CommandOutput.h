// What the command tells its caller: on a terminal one line per step and a live progress bar
// with the rate and the time left; to a pipe or a file the step lines only; with --json one
// JSON object per line on standard output for every event. Errors go to standard error as
// one line each, and with --json also as an event.
#pragma once

#include "cli/JsonLine.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace cli {

class CommandOutput
{
public:
    explicit CommandOutput(bool json);

    bool Json() const { return json_; }
    // A step the operator would have seen on the status bar.
    void Step(const std::string& text);
    // A failure of the command itself: "orvix-upload: <text>".
    void Error(const std::string& text);
    // A further line of an error (what to do about it).
    void Hint(const std::string& text);
    // An event: written with --json, dropped otherwise.
    void Event(const JsonLine& line);
    // The transfer's progress: `sent` of `total` bytes at `rate` bytes/s, `left` seconds to go.
    void Progress(std::uint64_t sent, std::uint64_t total, double rate, double left);
    // The bar's line is done with: the next text starts on a line of its own.
    void EndProgress();

private:
    void ClearBar();

    bool json_;
    bool bar_; // a terminal: the progress is drawn as a bar
    bool barShown_ = false;
};

} // namespace cli
