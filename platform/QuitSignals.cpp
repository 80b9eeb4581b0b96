#include "platform/QuitSignals.h"

#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::array<int, 3> Signals = {SIGTERM, SIGINT, SIGHUP};

// The handler may only do what is safe in a signal handler: it writes the signal's number to a
// pipe, whose other end the window's thread watches.
int writeEnd = -1;
int readEnd = -1;

extern "C" void NoteSignal(int signal)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(writeEnd, &byte, 1);
    errno = saved;
}

} // namespace

QuitSignals::QuitSignals(std::function<void(int signal)> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal))
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    readEnd = ends[0];
    writeEnd = ends[1];
    notifier_ = new QSocketNotifier(readEnd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { Drain(); });
    struct sigaction action = {};
    action.sa_handler = NoteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : Signals)
        ::sigaction(signal, &action, nullptr);
}

QuitSignals::~QuitSignals()
{
    if (readEnd < 0)
        return;
    for (const int signal : Signals)
        std::signal(signal, SIG_DFL);
    delete notifier_;
    ::close(readEnd);
    ::close(writeEnd);
    readEnd = writeEnd = -1;
}

void QuitSignals::Drain()
{
    unsigned char bytes[16];
    for (;;) {
        const ssize_t n = ::read(readEnd, bytes, sizeof bytes);
        if (n <= 0)
            return;
        for (ssize_t i = 0; i < n; ++i)
            if (onSignal_)
                onSignal_(bytes[i]);
    }
}
