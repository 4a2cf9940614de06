// Ctrl+C and SIGTERM on the command line: a request to stop after the current phase (or frame)
// rather than an end in the middle of a write.
#pragma once

namespace korvan::cli {

// Installs the handlers (SIGINT, SIGTERM) and ignores SIGXFSZ, so that a file-size limit makes
// a write fail with the usual message instead of killing the program.
void installSignalHandlers();

// True once SIGINT or SIGTERM has arrived.
bool interrupted();

// 128 + the signal's number, the exit status of a run stopped by it.
int interruptExitCode();

// When interrupted: says so on stderr and returns true; the command then exits with
// interruptExitCode() without writing its output.
bool stopIfInterrupted();

}  // namespace korvan::cli
