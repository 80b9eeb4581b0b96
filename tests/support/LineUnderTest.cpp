#include "tests/support/LineUnderTest.h"

#include "platform/Exception.h"
#include "platform/LineDevice.h"
#include "platform/PseudoTerminal.h"

#include <cstdlib>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

} // namespace

std::string LineUnderTest::RealDevice()
{
    return Environment("ORVIX_TEST_DEVICE");
}

LineUnderTest::LineUnderTest()
{
    path_ = RealDevice();
    if (path_.empty()) {
        pty_ = std::make_unique<PseudoTerminal>();
        path_ = pty_->SlavePath();
        return;
    }
    const std::string peer = Environment("ORVIX_TEST_PEER");
    if (peer.empty())
        throw Exception("ORVIX_TEST_DEVICE is set but ORVIX_TEST_PEER, its far end, is not");
    // QEMU's UART model sends at the rate it is set to, and a test's port starts with the rate
    // the device was left at (110 bit/s after a settings test): every test starts at the
    // unit's line rate, on both ends.
    LineDevice::OpenDevice(path_, 115200);
    peer_ = LineDevice::OpenDevice(peer, 115200);
    // Bytes an earlier test left on their way must not reach this one.
    while (!ReadFor(100ms).empty()) {
    }
}

LineUnderTest::~LineUnderTest() = default;

void LineUnderTest::CloseMaster()
{
    if (!pty_)
        throw Exception("a real device has no master to close");
    pty_->CloseMaster();
}

std::size_t LineUnderTest::Write(std::string_view bytes, std::chrono::milliseconds timeout)
{
    if (pty_)
        return pty_->Write(bytes, timeout);
    return peer_->Write(bytes, Clock::now() + timeout);
}

std::string LineUnderTest::Read(std::size_t count, std::chrono::milliseconds timeout)
{
    if (pty_)
        return pty_->Read(count, timeout);
    const auto deadline = Clock::now() + timeout;
    std::string got;
    while (got.size() < count) {
        std::string buf(count - got.size(), '\0');
        std::size_t n = 0;
        if (peer_->Read(buf.data(), buf.size(), &n, deadline) != LineDevice::ReadStatus::Data)
            break;
        got.append(buf, 0, n);
    }
    return got;
}

std::string LineUnderTest::ReadFor(std::chrono::milliseconds duration)
{
    if (pty_)
        return pty_->ReadFor(duration);
    const auto deadline = Clock::now() + duration;
    std::string got;
    char buf[4096];
    for (;;) {
        std::size_t n = 0;
        const auto status = peer_->Read(buf, sizeof buf, &n, deadline);
        if (status != LineDevice::ReadStatus::Data)
            return got;
        got.append(buf, n);
    }
}

std::string LineUnderTest::ReadUntil(std::string_view needle, std::chrono::milliseconds timeout)
{
    if (pty_)
        return pty_->ReadUntil(needle, timeout);
    const auto deadline = Clock::now() + timeout;
    std::string got;
    char buf[256];
    while (got.find(needle) == std::string::npos) {
        std::size_t n = 0;
        if (peer_->Read(buf, sizeof buf, &n, deadline) != LineDevice::ReadStatus::Data)
            break;
        got.append(buf, n);
    }
    return got;
}
