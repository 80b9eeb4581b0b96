// One transfer's state inside the upload engine (UploadEngine.h): the file being read, the
// counts, and the lines sent that the driver has not taken yet.
#pragma once

#include "upload/FirmwareReader.h"
#include "upload/UploadEngine.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>

namespace upload {

// How much of the file may wait in the port's transmitter beyond what the driver took: about
// an eighth of a second of the line, so the line never runs dry between two events while
// Cancel drops little, and an unpaced line still goes out in blocks worth a hand-over.
constexpr std::size_t kAheadMin = 512;
constexpr std::size_t kAheadMax = 64 * 1024;
constexpr std::uint32_t kAheadDivisor = 80; // bit/s to bytes in 1/8 s at 10 bits a byte
// The line's real pace is measured over this span and the window set to twice what it took
// then: a line faster than its nominal speed (a pseudo-terminal, a USB adapter's buffer) gets
// larger hand-overs, a slow one keeps its small window.
constexpr std::chrono::milliseconds kAheadSpan{125};

struct UploadEngine::Run
{
    FirmwareReader reader;
    int maximum = 0;
    long long lineCount = 0;
    long long byteCount = 0;
    std::size_t ahead = kAheadMin;
    std::size_t nominalAhead = kAheadMin; // from the line speed set
    std::uint64_t paceBytes = 0;          // taken since paceSince
    std::chrono::steady_clock::time_point paceSince{};
    // Bytes sent before the transfer (a wake-up byte) that the driver's reports cover first.
    std::uint64_t before = 0;
    std::uint64_t sent = 0;  // the transfer's bytes given to the port
    std::uint64_t taken = 0; // of them, taken by the driver
    // The end offset and length of each line sent and not yet taken.
    std::deque<std::pair<std::uint64_t, std::size_t>> lines;
    std::optional<std::string> stepLine; // waiting for the operator's answer
    bool drained = true;
};

} // namespace upload
