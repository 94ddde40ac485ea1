#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

// The bytes an in-process stand-in for a command wrote to its standard output
// and standard error.
struct BuiltInOutput {
    std::string output;
    std::string error;
};

// Whole command lines that the runner answers in-process, without starting a
// process: each maps to a function that produces exactly the bytes the
// command would print. Filled once, then only read (from any thread).
class BuiltInCommands {
  public:
    using Command = std::function<BuiltInOutput()>;
    void add(std::string commandLine, Command command) {
        m_commands.emplace_back(std::move(commandLine), std::move(command));
    }
    const Command* find(std::string_view commandLine) const {
        for (const auto& [line, command] : m_commands) {
            if (line == commandLine) return &command;
        }
        return nullptr;
    }

  private:
    std::vector<std::pair<std::string, Command>> m_commands;
};

// The same, except that a line `builtIns` knows (when given) is answered by
// its in-process stand-in: its outputs go through the same decoding, and a
// non-empty error text is logged the same way. Any other line runs as above.
ShellCommandResult runShellCommand(std::string_view commandLine, const char* callerName,
                                   const BuiltInCommands* builtIns,
                                   std::chrono::milliseconds timeLimit = kShellCommandTimeLimit);

}  // namespace ww
