#pragma once

#include <string>

namespace ww {

// Writes a short crash note with a backtrace into `folder` when the process
// dies of a fatal signal (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT), then lets
// the signal take its course. Nothing is sent anywhere.
void installCrashReporter(const std::string& folder, const std::string& version);

}  // namespace ww
