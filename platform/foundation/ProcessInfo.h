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

}  // namespace ww::process
