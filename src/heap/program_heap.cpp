#include "heap/program_heap.h"

#include "geometry/memory_budget.h"

#if defined(KORVAN_MIMALLOC)
#include <mimalloc.h>
#endif

namespace korvan {

void setUpProgramHeap() {
#if defined(KORVAN_MIMALLOC)
    // Asks the kernel for 2 MiB pages (madvise) where a region is large enough; where
    // transparent huge pages are off, the kernel ignores it.
    mi_option_enable(mi_option_large_os_pages);
#else
    keepFreedMemoryForReuse();
#endif
}

}  // namespace korvan
