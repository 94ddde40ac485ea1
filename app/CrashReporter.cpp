#include "app/CrashReporter.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

namespace ww {

namespace {

// Everything the handler needs is prepared beforehand: a signal handler may
// only make async-signal-safe calls.
char s_path[4096];
char s_header[512];
char s_altStack[64 * 1024];

void writeAll(int fd, const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w <= 0) return;
        p += w;
        n -= static_cast<size_t>(w);
    }
}

void writeNumber(int fd, long v) {
    char buf[24];
    int i = sizeof buf;
    bool negative = v < 0;
    unsigned long u = negative ? 0ul - static_cast<unsigned long>(v) : static_cast<unsigned long>(v);
    do {
        buf[--i] = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u && i > 1);
    if (negative) buf[--i] = '-';
    writeAll(fd, buf + i, sizeof buf - static_cast<size_t>(i));
}

void onFatalSignal(int sig) {
    int fd = ::open(s_path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd >= 0) {
        writeAll(fd, s_header, std::strlen(s_header));
        const char* what = "fatal signal ";
        writeAll(fd, what, std::strlen(what));
        writeNumber(fd, sig);
        writeAll(fd, " at unix time ", 14);
        writeNumber(fd, static_cast<long>(std::time(nullptr)));
        writeAll(fd, "\nbacktrace:\n", 12);
        void* frames[64];
        int n = ::backtrace(frames, 64);
        ::backtrace_symbols_fd(frames, n, fd);
        writeAll(fd, "\n", 1);
        ::close(fd);
    }
    // SA_RESETHAND restored the default action: die of the same signal.
    ::raise(sig);
}

}  // namespace

void installCrashReporter(const std::string& folder, const std::string& version) {
    std::snprintf(s_path, sizeof s_path, "%s/crash-%d.txt", folder.c_str(), static_cast<int>(::getpid()));
    std::snprintf(s_header, sizeof s_header, "Wirewatch %s (pid %d) crashed: ", version.c_str(),
                  static_cast<int>(::getpid()));
    // backtrace() loads its unwinder on first use, which must not happen in the handler.
    void* warmUp[1];
    ::backtrace(warmUp, 1);

    stack_t ss {};
    ss.ss_sp = s_altStack;
    ss.ss_size = sizeof s_altStack;
    ::sigaltstack(&ss, nullptr);

    struct sigaction sa {};
    sa.sa_handler = onFatalSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESETHAND | SA_ONSTACK;
    for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) ::sigaction(sig, &sa, nullptr);
}

}  // namespace ww
