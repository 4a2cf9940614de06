#include "cli/interrupt.h"

#include <signal.h>

#include <cstdio>

namespace korvan::cli {
namespace {

// The signal that arrived, or 0; written only by the handler.
volatile sig_atomic_t g_signal = 0;

extern "C" void onInterrupt(int signal) {
    g_signal = signal;
}

}  // namespace

void installSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGXFSZ, SIG_IGN);
}

bool interrupted() {
    return g_signal != 0;
}

int interruptExitCode() {
    return 128 + static_cast<int>(g_signal);
}

bool stopIfInterrupted() {
    if (!interrupted()) {
        return false;
    }
    std::fprintf(stderr, "Prekinuto\n");
    return true;
}

}  // namespace korvan::cli
