// Benchmarks run with the heap settings the programs use (see keepFreedMemoryForReuse).
#include "geometry/memory_budget.h"

namespace {

[[maybe_unused]] const bool kHeapKept = (korvan::keepFreedMemoryForReuse(), true);

}  // namespace
