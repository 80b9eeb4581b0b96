#include "platform/SignalWatch.h"

#include "platform/PollWait.h"

#include <csignal>
#include <cstdint>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

SignalWatch::SignalWatch(std::function<void(int)> told) : told_(std::move(told))
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    signalFd_ = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (signalFd_ >= 0 && stopFd_ >= 0)
        thread_ = std::thread([this] { Run(); });
}

SignalWatch::~SignalWatch()
{
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        (void)!write(stopFd_, &one, sizeof one);
        thread_.join();
    }
    if (signalFd_ >= 0)
        close(signalFd_);
    if (stopFd_ >= 0)
        close(stopFd_);
}

void SignalWatch::Run()
{
    for (;;) {
        pollfd fds[2] = {{signalFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        PollUntil(fds, 2, std::chrono::steady_clock::time_point::max());
        if (fds[1].revents)
            return;
        signalfd_siginfo info;
        while (read(signalFd_, &info, sizeof info) == ssize_t(sizeof info))
            if (told_)
                told_(int(info.ssi_signo));
    }
}
