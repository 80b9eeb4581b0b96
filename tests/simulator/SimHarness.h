// Test helpers: a unit running in-process on its own thread over a pty published in a
// temporary directory, and a small client standing in for the uploader on the other side.
#pragma once

#include "platform/LineDevice.h"
#include "sim/Options.h"
#include "sim/Unit.h"

#include <QTemporaryDir>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

// Options for a unit on a link in `dir` (short pauses so tests stay quick).
SimOptions TestUnitOptions(const QTemporaryDir& dir);

class RunningUnit
{
public:
    explicit RunningUnit(const SimOptions& options);
    ~RunningUnit(); // stops the unit and waits for its thread
    Unit& unit() { return *unit_; }
    // Waits (bounded) until the unit has reported `count` cycles.
    bool WaitForCycles(std::size_t count, std::chrono::milliseconds timeout);
    // Waits (bounded) for Run() to return; its status in `*status`.
    bool WaitForExit(std::chrono::milliseconds timeout, int* status);

private:
    std::unique_ptr<LineDevice> line_;
    std::unique_ptr<Unit> unit_;
    std::thread thread_;
    std::atomic<bool> done_{false};
    std::atomic<int> status_{-1};
};

// The uploader's side of the line.
class TestClient
{
public:
    TestClient(const std::string& path, bool ixon);
    // Sends bytes; true when all were taken before the timeout.
    bool Send(const std::string& bytes,
              std::chrono::milliseconds timeout = std::chrono::seconds(60));
    // Reads until `needle` has arrived (true) or the timeout passed; all text read so far is
    // kept in Received().
    bool ReadUntil(const std::string& needle, std::chrono::milliseconds timeout);
    // Wakes the unit with CR and waits for its greeting.
    bool Connect(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Sends the firmware text as the uploader does: line by line, CRs dropped, each line
    // followed by LF, then a lone LF for the empty read at the end of the file.
    bool SendFile(const std::string& text);
    const std::string& Received() const { return received_; }
    LineDevice& line() { return *line_; }

private:
    std::unique_ptr<LineDevice> line_;
    std::string received_;
};

// Waits (bounded) until `path` exists as a link to a device that can be opened.
bool WaitForLink(const std::string& path, std::chrono::milliseconds timeout);
