#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace ww {

// What a command printed. Each text is absent when its bytes were not valid
// UTF-8 (or, for a command that could not be started, when nothing was read).
struct ShellCommandResult {
    std::optional<std::string> output;
    std::optional<std::string> error;
    // True when the command outlived its time limit and was killed.
    bool timedOut = false;
};

// Long enough for any healthy tool; a hung one must not stop every later check.
inline constexpr std::chrono::milliseconds kShellCommandTimeLimit{30'000};

// Runs `commandLine` as `/bin/sh -c commandLine` with fresh pipes on standard
// input (never written; closed at once so a reading child sees end of file),
// output and error, and collects both outputs until end of file. Non-empty
// error text is logged as "error is %@" under `callerName`, which must be a
// string that lives for the whole program (a literal or __func__).
//
// The child runs in a process group of its own and is always reaped. When the
// limit passes first, the whole group is killed, one line is logged, and what
// was read so far is returned. No descriptor of this process leaks into the
// child. Safe to call from several threads at once; never throws.
ShellCommandResult runShellCommand(std::string_view commandLine, const char* callerName,
                                   std::chrono::milliseconds timeLimit = kShellCommandTimeLimit);

}  // namespace ww
