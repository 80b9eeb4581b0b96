// Helpers shared by the serial driver tests: the line under test (a pseudo-terminal, or a real
// device in the kernel-driver harness) with the driver opened on it, and a bounded wait.
#pragma once

#include "platform/SerialPort.h"
#include "tests/support/LineUnderTest.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace serialtest {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Polls `done` every millisecond until it holds or the timeout passes.
inline bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout = 5s)
{
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

inline std::unique_ptr<SerialPort> OpenOrFail(const std::string& path)
{
    SerialResult result = SerialResult::IoError;
    std::string reason;
    auto port = SerialPort::Open(path, &result, &reason);
    EXPECT_EQ(result, SerialResult::Ok) << reason;
    EXPECT_TRUE(port) << reason;
    return port;
}

// The far end holds the master; the driver has the slave open.
class PtyFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        port = OpenOrFail(pty.SlavePath());
        ASSERT_TRUE(port);
    }

    // The timeouts the serial component derives from its base value 10 ms: 2, 2, 10. A real
    // line (QEMU's UART model in the kernel-driver harness, on a loaded machine) pauses for
    // several milliseconds within a write: there an interval is 20 ms at least.
    void UsePacketTimeouts(std::uint32_t interval = 2, std::uint32_t multiplier = 2,
                           std::uint32_t constant = 10)
    {
        if (interval != 0 && LineUnderTest::OnRealDevice())
            interval = std::max<std::uint32_t>(interval, 20);
        SerialTimeouts t;
        t.ReadIntervalTimeout = interval;
        t.ReadTotalTimeoutMultiplier = multiplier;
        t.ReadTotalTimeoutConstant = constant;
        ASSERT_TRUE(port->SetTimeouts(t));
    }

    void UseXonXoff(bool on)
    {
        SerialState s;
        ASSERT_TRUE(port->GetState(s));
        s.fOutX = on;
        ASSERT_TRUE(port->SetState(s));
    }

    std::string ReadString(std::size_t size, SerialResult expected = SerialResult::Ok)
    {
        std::string buf(size, '\0');
        std::size_t got = 0;
        EXPECT_EQ(port->Read(buf.data(), size, &got), expected);
        buf.resize(got);
        return buf;
    }

    std::uint32_t InQueue()
    {
        std::uint32_t errors = 0;
        SerialStatus status;
        port->ClearError(&errors, &status);
        return status.cbInQue;
    }

    LineUnderTest pty;
    std::unique_ptr<SerialPort> port;
};

} // namespace serialtest
