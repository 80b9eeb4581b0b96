// Shared fixture of the serial component tests: the line under test (a pseudo-terminal, or a
// real device in the kernel-driver harness) reachable as "COM7", an owner object for the
// components, and a recorder of delivered packets.
#pragma once

#include "platform/PortNames.h"
#include "serial/MyCom.h"
#include "tests/support/LineUnderTest.h"
#include "tests/support/TestApp.h"

#include <QObject>
#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace serialtest {

using namespace std::chrono_literals;

constexpr unsigned kPort = 7;

// Generous bounds: the machine is shared and the tests run under sanitizers.
constexpr auto kSettle = 200ms;
constexpr auto kPatience = 5s;

struct PacketLog
{
    std::vector<AnsiString> packets;
    std::vector<TObject*> senders;

    TPacketReceivedEvent Handler()
    {
        return [this](TObject* Sender, AnsiString& buffer) {
            packets.push_back(buffer);
            senders.push_back(Sender);
        };
    }
    std::string Joined() const
    {
        std::string all;
        for (const auto& p : packets)
            all += p;
        return all;
    }
    // Processes window messages until `count` bytes have been delivered.
    bool WaitForBytes(std::size_t count, std::chrono::milliseconds timeout = kPatience)
    {
        return testapp::ProcessUntil([&] { return Joined().size() >= count; }, timeout);
    }
};

class SerialComponentTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testapp::ResetRecorders();
        SetPortMap({{kPort, pty.SlavePath()}});
    }
    void TearDown() override { SetPortMap({}); }

    // Opens a component of type T on the line with the given packet size and timeout.
    template <typename T>
    T* Open(std::uint32_t packetSize = 160, std::uint32_t timeout = 10, PacketLog* log = nullptr)
    {
        auto* com = new T(&owner);
        com->SetPort(kPort);
        com->SetPacketSize(packetSize);
        com->SetTimeout(timeout);
        if (log)
            com->OnPacketReceived = log->Handler();
        com->ComInit();
        EXPECT_TRUE(com->Initialized) << com->ErrorText << " / " << com->SystemErrorText;
        return com;
    }

    LineUnderTest pty;
    QObject owner; // destroyed before the line: closes the components' ports first
};

} // namespace serialtest
