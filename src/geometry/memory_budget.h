// How much memory this process may still take, as the system will enforce it.
#pragma once

#include <cstdint>

namespace korvan {

// The smallest of: physical memory, the address-space and data-segment limits (RLIMIT_AS,
// RLIMIT_DATA) and the memory limit of the process's cgroup (v2 memory.max, v1
// memory.limit_in_bytes) where one is set. Bytes; a missing figure does not limit.
double memoryLimitBytes();

// Lets the process keep the memory that one operation frees for the next, instead of handing
// it back to the system and taking it again page by page: arrays up to 32 MiB come from the
// heap, and up to 512 MiB freed at its top stay there. Called once by each program at start.
void keepFreedMemoryForReuse();

}  // namespace korvan
