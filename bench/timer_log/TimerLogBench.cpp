// Prints figures: how late the threaded timer's ticks come relative to the fixed delay
// after the previous tick, and what one log line costs (open, one write, close).
//
//   timer_log_bench [ticks] [interval-ms] [log-lines]
#include "components/QuickLogFile.h"
#include "components/ThdTimer.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Micros(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

void TimerFigures(int count, int intervalMs)
{
    std::vector<Clock::time_point> starts, ends;
    TThreadedTimer timer(nullptr);
    timer.SetInterval(static_cast<unsigned short>(intervalMs));
    QEventLoop loop;
    timer.OnTimer = [&](TObject*) {
        starts.push_back(Clock::now());
        ends.push_back(Clock::now());
        if (int(starts.size()) > count)
            loop.quit();
    };
    loop.exec();
    timer.SetEnabled(false);

    std::vector<double> late;
    for (std::size_t i = 1; i < starts.size(); ++i)
        late.push_back(Micros(starts[i] - ends[i - 1]) - intervalMs * 1000.0);
    std::sort(late.begin(), late.end());
    double sum = 0;
    for (double v : late)
        sum += v;
    std::printf("timer: %zu ticks at %d ms: lateness after the fixed delay: mean %.0f us, "
                "median %.0f us, p95 %.0f us, max %.0f us\n",
                late.size(), intervalMs, sum / double(late.size()), late[late.size() / 2],
                late[late.size() * 95 / 100], late.back());
}

void LogFigures(int lines)
{
    QTemporaryDir dir;
    TQuickLogFile log(nullptr);
    log.LogToFile = true;
    log.LogFileName = dir.filePath("bench.log").toStdString();
    const auto begin = Clock::now();
    for (int i = 0; i < lines; ++i)
        log.Log("status : Sending line " + std::to_string(i));
    const double total = Micros(Clock::now() - begin);
    std::printf("log: %d lines appended (open, write, close each): %.1f us per line, "
                "%.0f lines/s\n",
                lines, total / lines, lines / (total / 1e6));
}

} // namespace

int main(int argc, char** argv)
{
    const int ticks = argc > 1 ? std::max(2, std::atoi(argv[1])) : 100;
    const int interval = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 65535) : 20;
    const int lines = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5000;
    QCoreApplication app(argc, argv);
    TimerFigures(ticks, interval);
    LogFigures(lines);
    return 0;
}
