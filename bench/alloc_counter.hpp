// Counts the allocations of the whole program through a replaced global operator new (see
// alloc_counter.cpp; only the benchmark binary that links it counts).
#pragma once

#include <cstdint>

namespace charstack::bench {

// Every operator new call so far, on any thread.
uint64_t allocationCount();

}  // namespace charstack::bench
