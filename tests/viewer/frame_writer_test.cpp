// The frame writer's thread as the command line relies on it: Ctrl+C never lands there.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "support/mesh_checks.h"
#include "viewer/frame_writer.h"

namespace korvan {
namespace {

std::atomic<int> g_handled{0};

void countSignal(int) {
    g_handled.fetch_add(1);
}

// With the loop's thread holding SIGINT back, a SIGINT sent to the process must stay pending
// rather than be taken by the writer's thread.
TEST(FrameWriter, WorkerNeverTakesInterrupts) {
    struct sigaction action {};
    action.sa_handler = countSignal;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    ASSERT_EQ(::sigaction(SIGINT, &action, &previous), 0);

    test::TempDir dir;
    FrameWriter writer;
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    sigset_t mask;
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &interrupt, &mask), 0);
    ASSERT_EQ(::kill(::getpid(), SIGINT), 0);
    // The worker is woken after the signal: had it not held SIGINT back, it would take it now.
    writer.push(RgbImage(8, 4), 0, dir.path("f"), "bmp");
    const std::vector<FrameOutcome> outcomes = writer.finish();

    sigset_t pending;
    ASSERT_EQ(::sigpending(&pending), 0);
    EXPECT_EQ(sigismember(&pending, SIGINT), 1);
    EXPECT_EQ(g_handled.load(), 0);
    EXPECT_EQ(outcomes.size(), 1u);
    const timespec none{};
    ::sigtimedwait(&interrupt, nullptr, &none);  // take it, so that nothing sees it later
    ::pthread_sigmask(SIG_SETMASK, &mask, nullptr);
    ::sigaction(SIGINT, &previous, nullptr);
}

}  // namespace
}  // namespace korvan
