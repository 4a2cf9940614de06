// How much memory this process may still take, as the system will enforce it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvan {

// The smallest of: physical memory, the address-space and data-segment limits (RLIMIT_AS,
// RLIMIT_DATA) and the memory limit of the process's cgroup (v2 memory.max, v1
// memory.limit_in_bytes) where one is set. Bytes; a missing figure does not limit.
double memoryLimitBytes();

// Lets the process keep the memory that one operation frees for the next, instead of handing
// it back to the system and taking it again page by page: arrays up to 32 MiB come from the
// heap, and up to 512 MiB freed at its top stay there. Called once by each program at start.
void keepFreedMemoryForReuse();

// Maps in the pages of [data, data + bytes) on the calling arena's threads at once, before an
// array there is first written: a fresh page costs several times more to fault in than to
// fill, and the thread that writes first would fault them in one at a time. Only a hint; the
// contents are untouched, and small ranges are left alone.
void populatePages(void* data, size_t bytes);

// v.reserve(n), with the pages of the new storage mapped in by populatePages.
template <typename T>
void reservePopulated(std::vector<T>& v, size_t n) {
    if (n > v.capacity()) {
        v.reserve(n);
        populatePages(v.data(), n * sizeof(T));
    }
}

}  // namespace korvan
