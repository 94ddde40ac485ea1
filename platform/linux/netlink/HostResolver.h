#pragma once

#include <sys/socket.h>
#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/netlink/RouteNetlink.h"

namespace ww::netlink {

using AddressList = std::vector<sockaddr_storage>;

// At most this many addresses of one name are kept: each costs a route lookup.
inline constexpr std::size_t kMaxResolvedAddresses = 16;

// The addresses at the start of the lines of a resolver's output (the form of
// `getent ahosts`: "ADDRESS  SOCKTYPE [NAME]"), each once, in order, at most
// kMaxResolvedAddresses. Lines that do not start with an address are skipped.
AddressList parseResolverOutput(std::string_view output);

// True when both lists hold the same addresses in the same order.
bool sameAddresses(const AddressList& a, const AddressList& b);

// True when `name` may be handed to the resolver: 1 to 253 bytes of letters,
// digits, '-', '_' and '.', not starting with '-' (it would read as an option).
bool isResolvableName(std::string_view name);

// One resolution in a child process: `command` with the name appended, its
// standard output read through a pipe. Name resolution can block for many
// seconds; a child keeps that off our threads and can be killed at any time.
// Destroying a resolution that still runs kills the child and reaps it.
class ResolverProcess {
  public:
    using Clock = std::chrono::steady_clock;

    // Null (with `error` filled) when the child cannot be started.
    static std::unique_ptr<ResolverProcess> start(const std::vector<std::string>& command,
                                                  const std::string& name, std::string& error);
    ~ResolverProcess();

    ResolverProcess(const ResolverProcess&) = delete;
    ResolverProcess& operator=(const ResolverProcess&) = delete;

    // The read end of the output pipe (non-blocking), for poll.
    int fd() const { return m_output.get(); }
    Clock::time_point startedAt() const { return m_startedAt; }

    // Reads what the pipe holds. True once the output has ended (or grown past
    // any sensible size, when the rest is ignored).
    bool readAvailable();

    // Reaps the child (killing it if it still runs) and returns the addresses
    // it printed, or nothing when it printed none.
    std::optional<AddressList> finish();

    // Starts a resolution and waits for it, up to `timeLimit`: the addresses,
    // or nothing when the name did not resolve in time.
    static std::optional<AddressList> resolveNow(const std::vector<std::string>& command,
                                                 const std::string& name,
                                                 std::chrono::milliseconds timeLimit);

  private:
    ResolverProcess() = default;
    // Kills the child if it still runs and waits for it.
    void reap();

    pid_t m_pid = -1;
    UniqueFd m_pidFd;
    UniqueFd m_output;
    std::string m_text;
    bool m_ended = false;
    Clock::time_point m_startedAt;
};

}  // namespace ww::netlink
