// The programs' pthread_once: the one the process calls, and std::call_once's guarantees kept.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(Once, TheProgramsDefinitionIsTheOneCalled) {
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&pthread_once), &info), 0);
    ASSERT_NE(info.dli_fname, nullptr);
    // Not the C library's: an archive member would never have been linked in.
    EXPECT_EQ(std::string(info.dli_fname).find("libc."), std::string::npos) << info.dli_fname;
}

// Threads that meet one flag together: one runs the routine, and none returns before it ends.
TEST(Once, RacingThreadsRunTheRoutineOnceAndSeeItsWork) {
    constexpr int kThreads = 6;
    constexpr int kFlags = 300;
    auto flags = std::make_unique<std::once_flag[]>(kFlags);
    std::vector<std::atomic<int>> runs(kFlags), values(kFlags);
    std::atomic<int> early{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kFlags; ++i) {
                std::call_once(flags[i], [&] {
                    runs[i].fetch_add(1);
                    if (i % 50 == 0) {  // long enough for the others to wait
                        std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    }
                    values[i].store(i + 1, std::memory_order_relaxed);
                });
                early += values[i].load(std::memory_order_relaxed) != i + 1;
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    for (int i = 0; i < kFlags; ++i) {
        EXPECT_EQ(runs[i].load(), 1) << "flag " << i;
    }
    EXPECT_EQ(early.load(), 0);
}

// A routine that throws leaves the flag unset: the exception reaches the caller, and the next
// caller, or one already waiting, runs the routine again.
TEST(Once, ARoutineThatThrowsIsRunAgain) {
    std::once_flag flag;
    int runs = 0;
    EXPECT_THROW(std::call_once(flag,
                                [&] {
                                    ++runs;
                                    throw std::runtime_error("prvi put");
                                }),
                 std::runtime_error);
    std::call_once(flag, [&] { ++runs; });
    std::call_once(flag, [&] { ++runs; });
    EXPECT_EQ(runs, 2);

    std::once_flag shared;
    std::atomic<int> attempts{0};
    std::atomic<bool> waiting{false};
    std::thread first([&] {
        try {
            std::call_once(shared, [&] {
                ++attempts;
                while (!waiting) {
                    std::this_thread::yield();
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                throw std::runtime_error("prvi put");
            });
        } catch (const std::runtime_error&) {
        }
    });
    std::thread second([&] {
        while (attempts == 0) {
            std::this_thread::yield();
        }
        waiting = true;
        std::call_once(shared, [&] { ++attempts; });
    });
    first.join();
    second.join();
    EXPECT_EQ(attempts.load(), 2);
}

}  // namespace
