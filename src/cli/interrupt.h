// Ctrl+C and SIGTERM on the command line: a request to stop after the current phase (or frame)
// rather than an end in the middle of a write.
#pragma once

#include <atomic>

namespace korvan::cli {

// Blocks SIGINT and SIGTERM on the calling thread before any other thread exists, so that every
// thread started later (the thread pool's, the GL driver's) inherits the block, and starts one
// thread that waits for them: whichever thread is busy, the signal is seen. Called first thing
// in main. Ignores SIGXFSZ and SIGPIPE, so that a file-size limit or a closed pipe makes a write
// fail with the usual message instead of killing the program.
//
// On a signal the stop flag is set and the signal is left pending on the calling (main) thread,
// where an AtomicFile being written or committed sees it and discards the new file. A run that
// has not looked at the flag `graceSeconds` later (a long loop) is ended by the waiting thread
// with "Prekinuto" and the signal's exit status; no file is put in place after the signal, so
// the old outputs stay as they were. One that has seen it gets ten seconds to wind down. A
// second signal ends the run at once.
void installSignalHandlers(double graceSeconds = 0.15);

// True once SIGINT or SIGTERM has arrived, or waits to be taken by the waiting thread (and the
// run then counts as having seen the stop).
bool interrupted();

// Set as soon as a signal has come: the flag the engines poll inside their loops. Reading it
// does not count as having seen the stop; interrupted() does.
const std::atomic<bool>& stopFlag();

// Called once the command's last output is in place: a signal from then on is too late to stop
// anything, and the run ends with its own status.
void outputsInPlace();

// 128 + the signal's number, the exit status of a run stopped by it.
int interruptExitCode();

// When interrupted: says so on stderr and returns true; the command then exits with
// interruptExitCode() without writing its output.
bool stopIfInterrupted();

}  // namespace korvan::cli
