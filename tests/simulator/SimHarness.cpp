#include "SimHarness.h"

#include "platform/Exception.h"

#include <cstdlib>
#include <iostream>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

SimOptions TestUnitOptions(const QTemporaryDir& dir)
{
    SimOptions o;
    o.link = dir.filePath("unit").toStdString();
    o.xoffAt = 768;
    o.xonAt = 256;
    o.pauseMs = 100;
    o.greetAfterS = 0;
    return o;
}

RunningUnit::RunningUnit(const SimOptions& options)
    : line_(LineDevice::CreatePty(options.link)),
      unit_(std::make_unique<Unit>(options, *line_,
                                   options.verbose || std::getenv("ORVIX_SIM_TRACE") ? &std::cerr
                                                                                     : nullptr))
{
    thread_ = std::thread([this] {
        status_ = unit_->Run();
        done_ = true;
    });
}

RunningUnit::~RunningUnit()
{
    unit_->Stop();
    thread_.join();
}

bool RunningUnit::WaitForCycles(std::size_t count, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (unit_->Cycles().size() < count) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

bool RunningUnit::WaitForExit(std::chrono::milliseconds timeout, int* status)
{
    const auto deadline = Clock::now() + timeout;
    while (!done_) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    *status = status_;
    return true;
}

TestClient::TestClient(const std::string& path, bool ixon)
    : line_(LineDevice::OpenClient(path, ixon))
{
}

bool TestClient::Send(const std::string& bytes, std::chrono::milliseconds timeout)
{
    return line_->Write(bytes, Clock::now() + timeout) == bytes.size();
}

bool TestClient::ReadUntil(const std::string& needle, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    char buf[4096];
    while (received_.find(needle) == std::string::npos) {
        std::size_t n = 0;
        const auto status = line_->Read(buf, sizeof buf, &n, deadline);
        if (status != LineDevice::ReadStatus::Data)
            return false;
        received_.append(buf, n);
    }
    return true;
}

bool TestClient::Connect(std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        if (!Send("\r", 1s))
            return false;
        if (ReadUntil("Please start up\r\n", 1s))
            return true;
    }
    return false;
}

bool TestClient::SendFile(const std::string& text)
{
    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t end = text.find('\n', from);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(from, end - from);
        std::erase(line, '\r');
        if (!Send(line + "\n"))
            return false;
        from = end + 1;
    }
    return Send("\n");
}

bool WaitForLink(const std::string& path, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        try {
            LineDevice::OpenClient(path, false);
            return true;
        } catch (const Exception&) {
        }
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(50ms);
    }
}
