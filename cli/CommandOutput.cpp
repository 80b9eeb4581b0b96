#include "cli/CommandOutput.h"

#include "platform/TerminalCheck.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace cli {

namespace {

// A bar narrower than this would show nothing useful; the width of a terminal that tells none.
constexpr int MinBarWidth = 10;
constexpr int FallbackColumns = 80;

std::string Duration(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0)
        return "--:--";
    const auto whole = static_cast<long long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    return text;
}

} // namespace

CommandOutput::CommandOutput(bool json) : json_(json), bar_(!json && IsTerminal(STDOUT_FILENO)) {}

void CommandOutput::ClearBar()
{
    if (!barShown_)
        return;
    std::fputs("\r\033[K", stdout);
    barShown_ = false;
}

void CommandOutput::Step(const std::string& text)
{
    if (json_) {
        Event(JsonLine("status").Add("text", text));
        return;
    }
    ClearBar();
    std::fputs(text.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void CommandOutput::Error(const std::string& text)
{
    ClearBar();
    std::fflush(stdout);
    std::fprintf(stderr, "orvix-upload: %s\n", text.c_str());
    if (json_)
        Event(JsonLine("error").Add("text", text));
}

void CommandOutput::Hint(const std::string& text)
{
    std::fprintf(stderr, "  %s\n", text.c_str());
    if (json_)
        Event(JsonLine("hint").Add("text", text));
}

void CommandOutput::Event(const JsonLine& line)
{
    if (!json_)
        return;
    const std::string text = line.Text() + "\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void CommandOutput::Progress(std::uint64_t sent, std::uint64_t total, double rate, double left)
{
    if (json_) {
        Event(JsonLine("progress")
                  .Add("sent", sent)
                  .Add("total", total)
                  .Add("bytesPerSecond", rate)
                  .Add("secondsLeft", left));
        return;
    }
    if (!bar_)
        return;
    const double fraction = total ? std::min(1.0, double(sent) / double(total)) : 1.0;
    char figures[96];
    std::snprintf(figures, sizeof figures, " %3d%% %8.0f B/s %s left", int(fraction * 100), rate,
                  Duration(left).c_str());
    const int columns = TerminalColumns(STDOUT_FILENO, FallbackColumns);
    const int width = std::max(MinBarWidth, columns - 3 - int(std::string_view(figures).size()));
    const int filled = int(fraction * width);
    std::string line = "\r[";
    line.append(std::size_t(filled), '#');
    line.append(std::size_t(width - filled), ' ');
    line += ']';
    line += figures;
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
    barShown_ = true;
}

void CommandOutput::EndProgress()
{
    if (barShown_) {
        std::fputc('\n', stdout);
        std::fflush(stdout);
        barShown_ = false;
    }
}

} // namespace cli
