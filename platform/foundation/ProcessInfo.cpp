#include "platform/foundation/ProcessInfo.h"

#include <malloc.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

namespace ww::process {

std::string processName() {
    // program_invocation_short_name is glibc's; /proc/self/comm is the kernel's
    // copy (cut to 15 bytes), kept as a fallback.
    if (program_invocation_short_name && *program_invocation_short_name) {
        return program_invocation_short_name;
    }
    std::ifstream comm("/proc/self/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

int processId() { return static_cast<int>(::getpid()); }

std::uint32_t currentThreadId() {
    static thread_local std::uint32_t tid = static_cast<std::uint32_t>(::syscall(SYS_gettid));
    return tid;
}

namespace {

// Asking the kernel costs a system call; every log line wants the name, so it
// is read once per thread and kept up to date by setCurrentThreadName. The
// cache is plain data: log calls made during exit, after thread_local objects
// with destructors are gone, must still find it intact.
thread_local char t_threadName[16];
thread_local bool t_threadNameKnown = false;

void remember(const std::string& name) {
    size_t n = name.copy(t_threadName, sizeof t_threadName - 1);
    t_threadName[n] = '\0';
    t_threadNameKnown = true;
}

std::string readThreadName() {
    char buf[32] = {};
    if (pthread_getname_np(pthread_self(), buf, sizeof buf) != 0) return {};
    std::string name(buf);
    // An unnamed thread inherits the process name; that is no name of its own.
    if (::getpid() != static_cast<pid_t>(currentThreadId()) && name == processName().substr(0, 15)) {
        return {};
    }
    return name;
}

}  // namespace

std::string currentThreadName() {
    if (!t_threadNameKnown) remember(readThreadName());
    return t_threadName;
}

void setCurrentThreadName(const std::string& name) {
    std::string kept = name.substr(0, 15);
    pthread_setname_np(pthread_self(), kept.c_str());
    remember(kept);
}

unsigned processorCount() {
    long n = ::sysconf(_SC_NPROCESSORS_CONF);
    return n < 1 ? 1u : static_cast<unsigned>(n);
}

void configureAllocatorForLongRuns() {
    ::mallopt(M_ARENA_MAX, 1);
    ::mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    ::mallopt(M_TRIM_THRESHOLD, 256 * 1024);
}

// Trimming hands pages back and the next check faults them in again, a cost
// at every check: only a check that left much memory free is trimmed after.
void releaseFreeMemory() {
    constexpr std::size_t kKeptFree = 512 * 1024;
    if (::mallinfo2().fordblks >= kKeptFree) ::malloc_trim(0);
}

}  // namespace ww::process
