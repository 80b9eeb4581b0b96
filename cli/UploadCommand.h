// One run of orvix-upload: the file read and checked once, the line opened, then the upload
// engine driven as the window drives it, unit after unit, by the command's own event loop on
// the calling thread, until the units asked for are done or the run must end.
#pragma once

#include "cli/CommandOptions.h"
#include "cli/ExitStatus.h"

namespace cli {

// Runs the command; SIGINT and SIGTERM must already be watched (see main.cpp), their
// arrival given to the run through `inbox`.
class LoopInbox;
ExitStatus RunUpload(const CommandOptions& options, LoopInbox& inbox);

} // namespace cli
