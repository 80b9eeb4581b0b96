// Prints the tool's CPU use while a unit sends text without pause at a line rate (115200
// and 921600 bit/s, 10 bits a byte), and how far the terminal pane falls behind. The real
// main window on the offscreen platform (or the one QT_QPA_PLATFORM names) after Connect,
// waiting for a greeting that never comes, against a peer on a pseudo-terminal.
#include "app/Help.h"
#include "app/Uploader.h"
#include "platform/Application.h"
#include "platform/PseudoTerminal.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto RunTime = 10s;
constexpr auto PeerTick = 5ms;

// CPU time of this process (every thread), in seconds.
double ProcessCpuSeconds()
{
    return double(std::clock()) / CLOCKS_PER_SEC;
}

// CPU time of the calling thread, in seconds.
double ThreadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// Runs the window's message loop, as the program's own loop runs it (waiting for messages,
// never spinning), until `done` returns true (looked at every 10 ms) or the time is up.
void RunLoopUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    QEventLoop loop;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (done())
            loop.quit();
    });
    look.start(10);
    QTimer::singleShot(limit, &loop, &QEventLoop::quit);
    loop.exec();
}

// One line of the unit's chatter; the pane shows it with "--" for its CR LF.
std::string ChatterLine(long number)
{
    char text[96];
    std::snprintf(text, sizeof text, "seq %08ld unit status ok, temperature 41 C, supply 3V30\r\n",
                  number);
    return text;
}

// The number of the last whole line the pane shows (-1 when none).
long LastShownLine(const QTextDocument* doc)
{
    const int end = doc->characterCount() - 1;
    QString tail;
    for (int i = std::max(0, end - 120); i < end; ++i)
        tail += doc->characterAt(i);
    const qsizetype at = tail.lastIndexOf(QLatin1String("seq "));
    if (at < 0 || !tail.endsWith(QLatin1String("--")))
        return -1;
    return tail.mid(at + 4, 8).toLong();
}

struct Figures
{
    double bytesPerSecond = 0;
    double cpuPercent = 0;
    double maxLagSeconds = 0;
    double endLagSeconds = 0;
    bool caughtUp = false;
};

Figures Measure(int bitsPerSecond)
{
    Figures f;
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    PseudoTerminal pty;
    {
        QFile ini("Uploader.ini");
        ini.open(QIODevice::WriteOnly);
        ini.write("[SystemSection]\r\n[Ports]\r\nCOM2=" +
                  QByteArray::fromStdString(pty.SlavePath()) + "\r\n");
    }
    auto form = std::make_unique<TForm1>();
    auto help = std::make_unique<THelpForm>();
    form->show();
    RunLoopUntil([] { return false; }, 500ms);
    form->ConnectButton->click();

    const double bytesPerSecond = bitsPerSecond / 10.0;
    std::atomic<long> sentLine{-1};
    std::atomic<bool> peerDone{false};
    double peerCpu = 0;
    long long sentBytes = 0;
    const double cpuBefore = ProcessCpuSeconds();
    const auto start = Clock::now();
    std::thread peer([&] {
        const double cpu0 = ThreadCpuSeconds();
        long number = 0;
        std::string pending;
        while (Clock::now() - start < RunTime) {
            const auto due = (long long)(Seconds(Clock::now() - start) * bytesPerSecond);
            while (sentBytes + (long long)pending.size() < due)
                pending += ChatterLine(number++);
            // Whole lines only, so that the last one sent is the one to look for.
            const std::size_t written = pty.Write(pending, 1s);
            sentBytes += (long long)written;
            pending.erase(0, written);
            if (pending.empty())
                sentLine = number - 1;
            std::this_thread::sleep_for(PeerTick);
        }
        peerCpu = ThreadCpuSeconds() - cpu0;
        peerDone = true;
    });

    const double lineSeconds = double(ChatterLine(0).size()) / bytesPerSecond;
    QTimer sample;
    QObject::connect(&sample, &QTimer::timeout, [&] {
        const long shown = LastShownLine(form->Memo1->document());
        const long sent = sentLine;
        if (shown >= 0 && sent > shown)
            f.maxLagSeconds = std::max(f.maxLagSeconds, double(sent - shown) * lineSeconds);
    });
    sample.start(100);
    RunLoopUntil([&] { return peerDone.load(); }, RunTime + 10s);
    const auto peerEnd = Clock::now();
    const double cpuAtPeerEnd = ProcessCpuSeconds();
    peer.join();
    sample.stop();
    const long last = sentLine;
    RunLoopUntil([&] { return LastShownLine(form->Memo1->document()) == last; }, 5s);
    f.caughtUp = LastShownLine(form->Memo1->document()) == last;
    f.endLagSeconds = Seconds(Clock::now() - peerEnd);
    const double wall = Seconds(peerEnd - start);
    f.bytesPerSecond = double(sentBytes) / wall;
    f.cpuPercent = 100.0 * (cpuAtPeerEnd - cpuBefore - peerCpu) / wall;

    form->close();
    form.reset();
    help.reset();
    QDir::setCurrent(previous);
    return f;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    app.SetTitle("Tallowmere Orvix-500 Firmware Uploader");
    std::printf("Text from the unit without pause, %lld s per rate, pane capped at 10000 "
                "characters\n",
                (long long)std::chrono::seconds(RunTime).count());
    std::printf("%-10s %12s %14s %14s %14s\n", "bit/s", "bytes/s", "CPU % of core", "max lag (s)",
                "end lag (s)");
    // Rates to measure: the arguments, else the two of the table.
    std::vector<int> rates = {115200, 921600};
    if (argc > 1) {
        rates.clear();
        for (int i = 1; i < argc; ++i)
            rates.push_back(std::atoi(argv[i]));
    }
    for (const int rate : rates) {
        const Figures f = Measure(rate);
        std::printf("%-10d %12.0f %14.1f %14.2f %14.2f%s\n", rate, f.bytesPerSecond, f.cpuPercent,
                    f.maxLagSeconds, f.endLagSeconds, f.caughtUp ? "" : "  (never caught up)");
    }
    return 0;
}
