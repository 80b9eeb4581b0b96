// Runs orvix-upload against the simulated unit at two line speeds, with a unit that never
// holds the line, and prints the unit's download time over the line time of the bytes it took
// (goal: at most 1.01; from the simulator's report), the command's own transfer time, and the
// command's CPU time from its resource usage; then the uploader's figures (upload_bench) in the
// same run, for comparison.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

pid_t Spawn(std::vector<std::string> args)
{
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    return pid;
}

// The last row's field `index` of the unit record.
std::string LastField(const std::string& path, int index)
{
    std::ifstream in(path);
    std::string line, last;
    while (std::getline(in, line))
        if (!line.empty())
            last = line;
    std::size_t start = 0;
    for (int i = 0; i < index; ++i)
        start = last.find(',', start) + 1;
    return last.substr(start, last.find(',', start) - start);
}

// A number field of the simulator's JSON report (its last cycle's), 0 when absent.
double ReportNumber(const std::string& path, const std::string& name)
{
    std::ifstream in(path);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t at = text.rfind("\"" + name + "\"");
    if (at == std::string::npos)
        return 0;
    return std::atof(text.c_str() + text.find(':', at) + 1);
}

} // namespace

int main(int argc, char** argv)
{
    const int kb = argc > 1 ? std::atoi(argv[1]) : 240;
    char dirTemplate[] = "/tmp/orvix-upload-bench-XXXXXX";
    const std::string dir = mkdtemp(dirTemplate);
    const std::string fw = dir + "/fw.out";
    const std::string record = dir + "/units.csv";
    const pid_t maker = Spawn(
        {ORVIX_SIM_PATH, "--make-firmware", fw, "--size", std::to_string(kb * 1024 * 10 / 26)});
    waitpid(maker, nullptr, 0);
    std::printf("file %s: %ld bytes\n", fw.c_str(), long(std::ifstream(fw, std::ios::ate).tellg()));
    for (const char* baud : {"115200", "921600"}) {
        const std::string link = dir + "/tty" + baud;
        const std::string report = dir + "/sim-" + baud + ".json";
        const pid_t sim = Spawn({ORVIX_SIM_PATH, "--link", link, "--report", report, "--baud", baud,
                                 "--units", "1", "--pause-ms", "100", "--program-rate", "4000000",
                                 "--buffer", "1048576", "--xoff-at", "1000000"});
        while (access(link.c_str(), F_OK) != 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const pid_t command = Spawn({ORVIX_UPLOAD_PATH, "--device", link, "--baud", baud, "--file",
                                     fw, "--record", record, "--log", dir + "/log"});
        int status = 0;
        rusage usage{};
        wait4(command, &status, 0, &usage);
        waitpid(sim, nullptr, 0);
        const double bytes = std::stod(LastField(record, 8));
        const double ms = std::stod(LastField(record, 12));
        const double lineMs = bytes * 10.0 * 1000.0 / std::stod(baud);
        const double cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        const double unitBytes = ReportNumber(report, "bytes");
        const double downloadMs = ReportNumber(report, "download_s") * 1000.0;
        const double unitLineMs = unitBytes * 10.0 * 1000.0 / std::stod(baud);
        std::printf("%7s bit/s: exit %d; the unit's download %.0f ms for %.0f bytes, line time "
                    "%.0f ms, ratio %.3f (goal <= 1.01); the command's transfer %.0f ms for %.0f "
                    "bytes (line time %.0f ms); CPU %.3f s\n",
                    baud, WEXITSTATUS(status), downloadMs, unitBytes, unitLineMs,
                    unitLineMs > 0 ? downloadMs / unitLineMs : 0.0, ms, bytes, lineMs, cpu);
    }
#ifdef ORVIX_UPLOAD_BENCH_PATH
    std::printf("\nthe uploader (window) in the same run:\n");
    std::fflush(stdout);
    const std::string uploader =
        std::string("QT_QPA_PLATFORM=offscreen ") + ORVIX_UPLOAD_BENCH_PATH + " 2>/dev/null";
    if (std::system(uploader.c_str()) != 0)
        std::printf("upload_bench failed\n");
#endif
    return 0;
}
