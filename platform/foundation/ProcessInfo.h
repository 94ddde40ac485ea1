#pragma once

#include <cstdint>
#include <string>

namespace ww::process {

// The program's short name (the last component of the path it was started by).
std::string processName();
int processId();
// The kernel's identifier of the calling thread (gettid).
std::uint32_t currentThreadId();
// The calling thread's name, empty when it has none of its own.
std::string currentThreadName();
// Names the calling thread (at most 15 bytes are kept, a kernel limit).
void setCurrentThreadName(const std::string& name);
// The number of processors configured on the machine, at least 1.
unsigned processorCount();

// Sets the allocator up for a program that runs for days with little to do:
// one arena for all threads (a thread of its own would keep its arena's
// high-water mark), and fixed thresholds, so that large blocks (a big file
// read whole) are mapped and unmapped rather than left in the heap. Call at
// start, before other threads.
void configureAllocatorForLongRuns();
// Hands the memory the allocator holds free back to the system when a burst
// of work left much of it free (before sleeping).
void releaseFreeMemory();

}  // namespace ww::process
