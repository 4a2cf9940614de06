// One-time initialisation for the programs, in place of the C library's pthread_once (which
// std::call_once calls). The exact kernel of the closed engine guards every lazily evaluated
// number with a std::once_flag, and the C library's version ends every first call with a wake-up
// system call, waiters or not: on a virtual machine that is a microsecond each, about a quarter
// of a milling run on flat floors. This one makes that call only where a thread waits.
//
// Linked into the programs as an object, so that its definition is the one the process uses
// (the C++ library's calls and the dynamic libraries' included).
#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <climits>

namespace {

// A once-control's states. kNew is PTHREAD_ONCE_INIT and kDone the C library's own value for a
// finished control, so controls set up or finished by either version read the same.
constexpr int kNew = 0;
constexpr int kRunning = 1;
constexpr int kDone = 2;
constexpr int kRunningWithWaiters = 3;

static_assert(sizeof(pthread_once_t) == sizeof(std::atomic<int>));

std::atomic<int>& stateOf(pthread_once_t* control) {
    return *reinterpret_cast<std::atomic<int>*>(control);
}

void wakeAll(std::atomic<int>& state) {
    syscall(SYS_futex, reinterpret_cast<int*>(&state), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr,
            nullptr, 0);
}

// Returns when `state` no longer holds `value` (or spuriously; the caller looks again).
void waitWhile(std::atomic<int>& state, int value) {
    syscall(SYS_futex, reinterpret_cast<int*>(&state), FUTEX_WAIT_PRIVATE, value, nullptr, nullptr,
            0);
}

}  // namespace

extern "C" int pthread_once(pthread_once_t* control, void (*routine)()) {
    std::atomic<int>& state = stateOf(control);
    for (;;) {
        int seen = state.load(std::memory_order_acquire);
        if (seen == kDone) {
            return 0;
        }
        if (seen == kNew) {
            if (!state.compare_exchange_strong(seen, kRunning, std::memory_order_acquire)) {
                continue;
            }
            // A routine that throws (std::call_once passes its exception through here) leaves
            // the control as new, for the next caller to run it again.
            struct Reset {
                std::atomic<int>& state;
                bool armed = true;
                ~Reset() {
                    if (armed && state.exchange(kNew) == kRunningWithWaiters) {
                        wakeAll(state);
                    }
                }
            } reset{state};
            routine();
            reset.armed = false;
            if (state.exchange(kDone, std::memory_order_release) == kRunningWithWaiters) {
                wakeAll(state);
            }
            return 0;
        }
        // Another thread runs the routine: say that someone waits, then wait.
        if (seen == kRunning &&
            !state.compare_exchange_strong(seen, kRunningWithWaiters, std::memory_order_relaxed)) {
            continue;
        }
        waitWhile(state, kRunningWithWaiters);
    }
}
