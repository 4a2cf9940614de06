// How much memory this process may still take, as the system will enforce it.
#pragma once

#include <cstdint>

namespace korvan {

// The smallest of: physical memory, the address-space and data-segment limits (RLIMIT_AS,
// RLIMIT_DATA) and the memory limit of the process's cgroup (v2 memory.max, v1
// memory.limit_in_bytes) where one is set. Bytes; a missing figure does not limit.
double memoryLimitBytes();

}  // namespace korvan
