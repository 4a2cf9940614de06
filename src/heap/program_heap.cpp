#include "heap/program_heap.h"

#include <algorithm>
#include <cstddef>

#include "geometry/memory_budget.h"

#if defined(KORVAN_MIMALLOC)
#include <mimalloc.h>
#include <sys/mman.h>
#endif

namespace korvan {

#if defined(KORVAN_MIMALLOC)
namespace {

// A quarter of what the process may take, at most 16 GiB; none below 256 MiB.
size_t keptHeapBytes(double limitBytes) {
    constexpr double kMiB = double{1 << 20};
    const double bytes = std::min(limitBytes / 4, 16384 * kMiB);
    return bytes >= 256 * kMiB ? static_cast<size_t>(bytes) : 0;
}

}  // namespace
#endif

void setUpProgramHeap() {
#if defined(KORVAN_MIMALLOC)
    // Asks the kernel for 2 MiB pages (madvise) where a region is large enough; where
    // transparent huge pages are off, the kernel ignores it.
    mi_option_enable(mi_option_large_os_pages);
    // mimalloc hands freed pages back to the system some milliseconds after they are freed,
    // and whatever takes them next faults them in again, small page by small page: a
    // 1M-triangle command faulted about twice as often, mostly in the operation after its
    // reads. They now stay for the next use. (Switching decommits off has no effect once the
    // allocator runs; the delays are read each time.)
#if MI_MALLOC_VERSION >= 210 || (MI_MALLOC_VERSION >= 180 && MI_MALLOC_VERSION < 200)
    mi_option_set(mi_option_purge_delay, -1);  // never; what the later versions call it
#else
    constexpr long kDay = 24L * 3600 * 1000;  // milliseconds
    mi_option_set(mi_option_decommit_delay, kDay);
    mi_option_set(mi_option_segment_decommit_delay, kDay);
#endif
    // mimalloc hands an array of tens of megabytes back to the system when it is freed, so
    // each operation faulted its arrays in afresh. Memory it takes from a region reserved up
    // front stays mapped when freed, for the next operation. The region is address space
    // until it is written, on huge pages where the kernel has them; where it is refused, or
    // once it is full, mimalloc asks the system as before.
    if (const size_t bytes = keptHeapBytes(memoryLimitBytes()); bytes > 0) {
        mi_arena_id_t arena = 0;
        if (mi_reserve_os_memory_ex(bytes, /*commit=*/true, /*allow_large=*/true,
                                    /*exclusive=*/false, &arena) == 0) {
            size_t size = 0;
            if (void* start = mi_arena_area(arena, &size); start != nullptr) {
                (void)::madvise(start, size, MADV_HUGEPAGE);
            }
        }
    }
#else
    keepFreedMemoryForReuse();
#endif
}

}  // namespace korvan
