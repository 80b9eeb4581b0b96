// orvix-upload: the uploader without a window, for test racks and scripts.
#include "cli/CommandOptions.h"
#include "cli/ExitStatus.h"
#include "cli/LoopInbox.h"
#include "cli/UploadCommand.h"
#include "platform/ConsoleOutput.h"
#include "platform/SignalWatch.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    const cli::ParsedCommand parsed = cli::ParseCommand(args);
    switch (parsed.action) {
    case cli::ParsedCommand::Action::Help:
        return WriteAnswer("orvix-upload", cli::CommandHelp());
    case cli::ParsedCommand::Action::Version:
        return WriteAnswer("orvix-upload", cli::CommandVersion());
    case cli::ParsedCommand::Action::Refuse:
        std::fprintf(stderr, "orvix-upload: %s\n%s", parsed.error.c_str(),
                     cli::CommandUsage().c_str());
        return int(cli::ExitStatus::BadArguments);
    case cli::ParsedCommand::Action::Run:
        break;
    }
    cli::LoopInbox inbox;
    // Before any other thread starts, so that every thread has the signals blocked and only
    // the watch takes them.
    SignalWatch signals([&inbox](int signal) { inbox.Signal(signal); });
    return int(cli::RunUpload(parsed.options, inbox));
}
