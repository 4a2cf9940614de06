// Benchmarks run with the heap the programs use (see setUpProgramHeap).
#include "heap/program_heap.h"

namespace {

[[maybe_unused]] const bool kHeapKept = (korvan::setUpProgramHeap(), true);

}  // namespace
