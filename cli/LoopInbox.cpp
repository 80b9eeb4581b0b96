#include "cli/LoopInbox.h"

namespace cli {

void LoopInbox::Packet(std::string bytes)
{
    {
        std::lock_guard lock(m_);
        events_.packets.push_back(std::move(bytes));
        any_ = true;
    }
    cv_.notify_one();
}

void LoopInbox::ReadFailed(std::string errorText)
{
    {
        std::lock_guard lock(m_);
        events_.readFailure = std::move(errorText);
        any_ = true;
    }
    cv_.notify_one();
}

void LoopInbox::SendChanged()
{
    {
        std::lock_guard lock(m_);
        events_.sendChanged = true;
        any_ = true;
    }
    cv_.notify_one();
}

void LoopInbox::Signal(int signal)
{
    {
        std::lock_guard lock(m_);
        events_.signal = signal;
        any_ = true;
    }
    cv_.notify_one();
}

LoopEvents LoopInbox::Wait(std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock lock(m_);
    cv_.wait_until(lock, deadline, [this] { return any_; });
    LoopEvents taken = std::move(events_);
    events_ = LoopEvents();
    any_ = false;
    return taken;
}

} // namespace cli
