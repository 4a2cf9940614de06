// How the programs (desktop, command line, benchmarks) set up their heap; not for the library.
#pragma once

namespace korvan {

// Called once at the start of main. Meshes live in arrays of tens or hundreds of megabytes, and
// taking their memory from the system page by page cost a 1M-triangle command about half its
// time: where the build links mimalloc (which then serves every allocation of the process), its
// arrays are placed on transparent huge pages in a region reserved at start, which keeps what
// one operation frees for the next; with the C library's allocator, freed memory is kept
// (keepFreedMemoryForReuse).
void setUpProgramHeap();

}  // namespace korvan
