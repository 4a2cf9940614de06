// The programs' heap keeps what one operation frees for the next: arrays of tens of megabytes,
// freed and asked for again, are not faulted in afresh page by page.
#include "heap/program_heap.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "geometry/memory_budget.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

int64_t minorFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// One "operation": a few large arrays, every page of each written, then all freed.
int64_t faultsOfOneOperation(const std::vector<size_t>& sizes) {
    const int64_t before = minorFaults();
    std::vector<std::unique_ptr<char[]>> arrays;
    for (const size_t bytes : sizes) {
        arrays.push_back(std::make_unique_for_overwrite<char[]>(bytes));
        char* data = arrays.back().get();
        for (size_t i = 0; i < bytes; i += 512) {
            data[i] = static_cast<char>(i);
        }
    }
    return minorFaults() - before;
}

TEST(ProgramHeap, ASecondOperationReusesTheMemoryTheFirstFreed) {
    if (kSanitized) {
        GTEST_SKIP() << "the sanitizers bring their own allocator";
    }
    // Below this the programs reserve nothing (a quarter of the limit under 256 MiB).
    if (korvan::memoryLimitBytes() < 1024.0 * (1 << 20)) {
        GTEST_SKIP() << "too little memory for the programs to keep any";
    }
    korvan::setUpProgramHeap();
    // Sizes below the C library's mmap threshold as the programs set it (32 MiB), so that
    // both heaps are held to the same promise.
    const std::vector<size_t> sizes = {size_t{24} << 20, size_t{20} << 20, size_t{30} << 20};
    size_t total = 0;
    for (const size_t s : sizes) {
        total += s;
    }
    const auto pages = static_cast<int64_t>(total / static_cast<size_t>(sysconf(_SC_PAGESIZE)));
    (void)faultsOfOneOperation(sizes);
    const int64_t again = faultsOfOneOperation(sizes);
    EXPECT_LT(again, pages / 10) << "of " << pages << " pages";
}

}  // namespace
