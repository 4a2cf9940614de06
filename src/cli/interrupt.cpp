#include "cli/interrupt.h"

#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

namespace korvan::cli {
namespace {

// The signal that arrived, or 0; written only by the waiting thread.
std::atomic<int> g_signal{0};
// Whether the run has put its outputs in place: a signal after that stops nothing.
std::atomic<bool> g_finished{false};
// Set with g_signal, for the engines' loops.
std::atomic<bool> g_stopFlag{false};
// Whether the stop has been told on stderr already.
std::atomic<bool> g_told{false};
// Whether the run has seen the stop and is winding down on its own.
std::atomic<bool> g_seen{false};
pthread_t g_mainThread;
double g_graceSeconds = 0.15;

sigset_t interruptSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

// Ends the process now; only async-signal-safe calls, as the other threads run on.
[[noreturn]] void endNow(int signal) {
    static const char kMessage[] = "Prekinuto\n";
    if (!g_told.exchange(true)) {
        (void)!::write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
    }
    ::_exit(128 + signal);
}

// Sleeps `seconds`; true when another signal came first.
bool anotherSignalWithin(double seconds) {
    const sigset_t set = interruptSignals();
    timespec wait{};
    wait.tv_sec = static_cast<time_t>(seconds);
    wait.tv_nsec = static_cast<long>((seconds - static_cast<double>(wait.tv_sec)) * 1e9);
    return ::sigtimedwait(&set, nullptr, &wait) > 0;
}

// SIGINT or SIGTERM waiting on this thread or on the process; 0 when neither does.
int pendingSignal() {
    sigset_t pending;
    if (::sigpending(&pending) != 0) {
        return 0;
    }
    return sigismember(&pending, SIGINT) == 1    ? SIGINT
           : sigismember(&pending, SIGTERM) == 1 ? SIGTERM
                                                 : 0;
}

void* waitForSignals(void*) {
    const sigset_t set = interruptSignals();
    int signal = 0;
    // Signals after the outputs are in place change nothing; the run ends as it would.
    while (::sigwait(&set, &signal) != 0 || g_finished) {
    }
    g_signal = signal;
    g_stopFlag = true;
    ::pthread_kill(g_mainThread, signal);
    // A run that has seen the stop gets time to finish its frame and its report; one that has
    // not (a long loop) is ended after the grace. Another signal ends it at once.
    if (anotherSignalWithin(g_graceSeconds)) {
        endNow(signal);
    }
    if (g_finished) {
        // The signal came as the last output was put in place: it stopped nothing, so the run
        // ends with its own status, however long its exit takes (a sanitizer's leak check takes
        // more than the grace). Only another signal ends it sooner.
        while (!anotherSignalWithin(60.0)) {
        }
    } else if (g_seen) {
        anotherSignalWithin(10.0);
    }
    endNow(signal);
}

}  // namespace

void installSignalHandlers(double graceSeconds) {
    g_graceSeconds = graceSeconds;
    g_mainThread = ::pthread_self();
    const sigset_t set = interruptSignals();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    ::signal(SIGXFSZ, SIG_IGN);
    ::signal(SIGPIPE, SIG_IGN);
    pthread_t waiter;
    if (::pthread_create(&waiter, nullptr, waitForSignals, nullptr) == 0) {
        ::pthread_detach(waiter);
    } else {
        // Without the waiting thread the signals keep their default action: the run ends at once.
        ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    }
}

// The stop signal, also while it is still on its way to the waiting thread (a write that saw
// it pending must not count as a failure); 0 when there is none.
int stopSignal() {
    const int signal = g_signal;
    return signal != 0 || g_finished ? signal : pendingSignal();
}

bool interrupted() {
    if (stopSignal() == 0) {
        return false;
    }
    g_seen = true;
    return true;
}

const std::atomic<bool>& stopFlag() {
    return g_stopFlag;
}

int interruptExitCode() {
    return 128 + stopSignal();
}

void outputsInPlace() {
    g_finished = true;
}

bool stopIfInterrupted() {
    if (!interrupted()) {
        return false;
    }
    if (!g_told.exchange(true)) {
        std::fprintf(stderr, "Prekinuto\n");
    }
    return true;
}

}  // namespace korvan::cli
