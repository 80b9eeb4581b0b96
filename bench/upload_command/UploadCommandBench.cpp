// Runs orvix-upload against the simulated unit at two line speeds, with a unit that never
// holds the line, and prints the download time over the line time of the bytes sent (goal:
// at most 1.01) and the command's CPU time, from its own resource usage.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
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
        const pid_t sim = Spawn({ORVIX_SIM_PATH, "--link", link, "--baud", baud, "--units", "1",
                                 "--pause-ms", "100", "--program-rate", "4000000", "--buffer",
                                 "1048576", "--xoff-at", "1000000"});
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
        std::printf("%7s bit/s: exit %d, %.0f bytes in %.0f ms, line time %.0f ms, ratio %.3f "
                    "(goal <= 1.01), CPU %.3f s\n",
                    baud, WEXITSTATUS(status), bytes, ms, lineMs, ms / lineMs, cpu);
    }
    return 0;
}
