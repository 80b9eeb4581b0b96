// The line a serial test runs on. By default a fresh pseudo-terminal pair whose master the test
// plays as the far end. With ORVIX_TEST_DEVICE and ORVIX_TEST_PEER set (the kernel-driver
// harness does so in its QEMU guest), a real serial device and a second port wired to it,
// whose end the test plays instead: the same tests then meet a real driver.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

class LineDevice;
class PseudoTerminal;

class LineUnderTest
{
public:
    // Opens the line; on a real device, what the peer still had from an earlier test is
    // read away first. Throws Exception when the line cannot be opened.
    LineUnderTest();
    ~LineUnderTest();
    LineUnderTest(const LineUnderTest&) = delete;
    LineUnderTest& operator=(const LineUnderTest&) = delete;

    // The device under test named by the environment, or empty (a pty is used then).
    static std::string RealDevice();
    static bool OnRealDevice() { return !RealDevice().empty(); }

    // The device the tool opens: the pty's slave, or the real device.
    const std::string& SlavePath() const { return path_; }

    // A pty only: closes the master, so the tool sees a hang-up as from a pulled adapter.
    void CloseMaster();

    // The far end's side, as PseudoTerminal's: writes all bytes, waiting up to the timeout
    // for room (returns how many went); reads `count` bytes or until the timeout; reads for
    // the whole duration; reads until `needle` arrived or the timeout passed.
    std::size_t Write(std::string_view bytes,
                      std::chrono::milliseconds timeout = std::chrono::seconds(5));
    std::string Read(std::size_t count, std::chrono::milliseconds timeout);
    std::string ReadFor(std::chrono::milliseconds duration);
    std::string ReadUntil(std::string_view needle, std::chrono::milliseconds timeout);

private:
    std::unique_ptr<PseudoTerminal> pty_;
    std::unique_ptr<LineDevice> peer_;
    std::string path_;
};

// Ends a test that needs what only a pseudo-terminal has (its master to close, its own 20 KiB
// buffer, no modem lines, no pauses within a write) when it runs on a real device.
// Why tests that expect a write's bytes in one packet of a 2 ms interval skip there:
#define LINE_PAUSES_WITHIN_A_WRITE                                                                 \
    "a real line (here QEMU's, on a loaded machine) may pause longer than 2 ms within a write"
#define SKIP_ON_REAL_DEVICE(why)                                                                   \
    do {                                                                                           \
        if (LineUnderTest::OnRealDevice())                                                         \
            GTEST_SKIP() << "pty only: " << (why);                                                 \
    } while (false)
