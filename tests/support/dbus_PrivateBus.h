#pragma once

// D-Bus for tests: a private dbus-daemon started by the test (its own
// configuration: a unix socket in a temporary folder, a policy that lets
// everyone own names and send), python3-dbusmock services on it, and a small
// sd-bus caller to drive them. Point the program under test at the bus with
// DBUS_SYSTEM_BUS_ADDRESS (and DBUS_SESSION_BUS_ADDRESS, for mocks of
// session services). Needs dbus-daemon and /usr/bin/python3 with dbusmock
// (Debian: dbus, python3-dbusmock); `available()` says whether it worked.
//
// The socket is a path, not an abstract name, so that a program in another
// network namespace reaches the same bus.

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/common_Children.h"
#include "tests/support/common_TestSupport.h"

extern char** environ;

namespace ww::test {

// This process's environment with the entries of `extra` in place of its own.
inline std::vector<std::string> environmentWith(std::vector<std::string> extra) {
    std::vector<std::string> env = extra;
    for (char** e = environ; *e; ++e) {
        std::string_view entry = *e;
        auto sameName = [&](const std::string& x) {
            return entry.substr(0, entry.find('=') + 1) == x.substr(0, x.find('=') + 1);
        };
        if (std::none_of(extra.begin(), extra.end(), sameName)) env.emplace_back(entry);
    }
    return env;
}

namespace dbus_detail {
struct MessageUnref {
    void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};
}  // namespace dbus_detail

using BusReply = std::unique_ptr<sd_bus_message, dbus_detail::MessageUnref>;

// A caller on one bus: method calls with any arguments, for driving mocks and
// checking what they hold.
class BusCaller {
  public:
    explicit BusCaller(const std::string& address) {
        if (sd_bus_new(&m_bus) < 0) return;
        sd_bus_set_address(m_bus, address.c_str());
        sd_bus_set_bus_client(m_bus, 1);
        if (sd_bus_start(m_bus) < 0) {
            sd_bus_unref(m_bus);
            m_bus = nullptr;
            return;
        }
        sd_bus_set_method_call_timeout(m_bus, 5'000'000);
    }
    ~BusCaller() { sd_bus_flush_close_unref(m_bus); }
    BusCaller(const BusCaller&) = delete;
    BusCaller& operator=(const BusCaller&) = delete;

    bool connected() const { return m_bus != nullptr; }

    // sd_bus_call_method with the signature and arguments as it takes them
    // (a variant: its type, then its value). The reply, or nothing with the
    // error's name and message in `error`.
    template <typename... Args>
    BusReply call(const std::string& destination, const std::string& path,
                  const std::string& interface, const std::string& member, std::string* error,
                  const char* signature, Args... args) {
        if (!m_bus) {
            if (error) *error = "no bus";
            return nullptr;
        }
        sd_bus_error e = SD_BUS_ERROR_NULL;
        sd_bus_message* reply = nullptr;
        int r = sd_bus_call_method(m_bus, destination.c_str(), path.c_str(), interface.c_str(),
                                   member.c_str(), &e, &reply, signature, args...);
        if (r < 0 && error) {
            *error = std::string(e.name ? e.name : "") + ": " +
                     (e.message ? e.message : std::strerror(-r));
        }
        sd_bus_error_free(&e);
        return BusReply(r < 0 ? nullptr : reply);
    }

    // The first string of a reply (an object path the mock made).
    static std::string firstString(const BusReply& reply) {
        const char* s = nullptr;
        if (!reply || sd_bus_message_read_basic(reply.get(), 's', &s) < 0 || !s) return {};
        return s;
    }

    // Waits until `name` has an owner, woken by the bus's NameOwnerChanged
    // signal; false when `pidfd` (the would-be owner) ends first or the
    // deadline passes.
    bool waitForOwner(const std::string& name, int pidfd,
                      std::chrono::steady_clock::time_point deadline) {
        if (!m_bus) return false;
        std::string rule =
            "type='signal',sender='org.freedesktop.DBus',member='NameOwnerChanged',arg0='" + name +
            "'";
        sd_bus_slot* slot = nullptr;
        if (sd_bus_add_match(m_bus, &slot, rule.c_str(), nullptr, nullptr) < 0) return false;
        // Asked after the match is in place, so that no change falls between;
        // asked again after anything the bus brought.
        bool owned = false;
        for (;;) {
            auto reply = call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                              "org.freedesktop.DBus", "NameHasOwner", nullptr, "s", name.c_str());
            int has = 0;
            if ((owned = reply && sd_bus_message_read(reply.get(), "b", &has) >= 0 && has)) break;
            int r = sd_bus_process(m_bus, nullptr);
            if (r < 0) break;
            if (r > 0) continue;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd fds[2] = {
                {sd_bus_get_fd(m_bus), static_cast<short>(sd_bus_get_events(m_bus)), 0},
                {pidfd, POLLIN, 0}};
            if (::poll(fds, pidfd >= 0 ? 2 : 1, static_cast<int>(left.count())) < 0) break;
            if (pidfd >= 0 && (fds[1].revents & POLLIN)) break;
        }
        sd_bus_slot_unref(slot);
        return owned;
    }

  private:
    sd_bus* m_bus = nullptr;
};

class PrivateBus {
  public:
    PrivateBus() {
        if (::access("/usr/bin/dbus-daemon", X_OK) != 0) {
            m_why = "no /usr/bin/dbus-daemon (Debian package dbus)";
            return;
        }
        m_address = "unix:path=" + m_dir.file("bus");
        std::string config = m_dir.file("bus.conf");
        std::ofstream(config) << "<busconfig><type>session</type><listen>" << m_address
                              << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                                 "<allow user=\"*\"/><allow own=\"*\"/>"
                                 "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                                 "<allow receive_sender=\"*\"/></policy></busconfig>\n";
        // The daemon prints its address once it listens.
        const std::string printed = m_dir.file("address"), log = m_dir.file("dbus-daemon.log");
        m_daemon.emplace(
            "/usr/bin/dbus-daemon",
            std::vector<std::string>{"--config-file=" + config, "--nofork", "--print-address"},
            environmentWith({}), printed, log);
        auto listening = [&] { return readFile(printed).find('\n') != std::string::npos; };
        if (m_daemon->waitFor(m_dir.path(), listening, std::chrono::seconds(10))) {
            m_available = true;
            return;
        }
        m_why = "dbus-daemon did not start: " + readFile(log);
        m_daemon.reset();
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool available() const { return m_available; }
    const std::string& whyUnavailable() const { return m_why; }
    // "unix:path=/tmp/ww-test-XXXXXX/bus".
    const std::string& address() const { return m_address; }
    // The environment entries that point a program at this bus.
    std::vector<std::string> environment() const {
        return {"DBUS_SYSTEM_BUS_ADDRESS=" + m_address, "DBUS_SESSION_BUS_ADDRESS=" + m_address};
    }
    // A folder for the mocks' files, removed with the bus.
    const TempDir& folder() const { return m_dir; }

  private:
    TempDir m_dir;
    std::string m_address;
    std::string m_why;
    std::optional<Child> m_daemon;  // ended before the folder goes
    bool m_available = false;
};

// A python3-dbusmock service on a private bus: a template (a name such as
// "networkmanager", or the path of a template file) with JSON parameters,
// its calls logged to a file ("TIME.mmm Method args" lines; property writes
// as "TIME.mmm Set PATH INTERFACE.NAME VALUE").
class DBusMock {
  public:
    struct Options {
        std::string templateName;
        std::string busName;     // waited for until it is owned
        std::string parameters;  // JSON, empty for none
        bool systemBus = true;   // --system, else --session
        std::chrono::milliseconds limit = std::chrono::seconds(20);
    };

    DBusMock(const PrivateBus& bus, Options options) : m_bus(bus), m_options(std::move(options)) {
        static int counter = 0;
        m_logPath = bus.folder().file("mock-" + std::to_string(counter++) + ".log");
        start();
    }
    DBusMock(const DBusMock&) = delete;
    DBusMock& operator=(const DBusMock&) = delete;

    bool running() const { return m_child.has_value(); }
    const std::string& whyNotRunning() const { return m_why; }

    // The log lines that contain `text`.
    std::vector<std::string> logLines(const std::string& text) const {
        std::vector<std::string> found;
        std::istringstream all(readFile(m_logPath));
        for (std::string line; std::getline(all, line);) {
            if (line.find(text) != std::string::npos) found.push_back(line);
        }
        return found;
    }

    // Starts the service (again) and waits until it owns its name.
    bool start() {
        if (m_child) return true;
        std::vector<std::string> args = {"-m",
                                         "dbusmock",
                                         m_options.systemBus ? "--system" : "--session",
                                         "--template",
                                         m_options.templateName,
                                         "-l",
                                         m_logPath};
        if (!m_options.parameters.empty()) {
            args.push_back("--parameters");
            args.push_back(m_options.parameters);
        }
        const std::string out = m_logPath + ".out";
        m_child.emplace("/usr/bin/python3", args, environmentWith(m_bus.environment()), "/dev/null",
                        out);
        if (m_child->spawnError() != 0) {
            m_why =
                "cannot start /usr/bin/python3: " + std::string(strerror(m_child->spawnError()));
            stop();
            return false;
        }
        BusCaller caller(m_bus.address());
        int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, m_child->pid(), 0));
        bool up = caller.waitForOwner(m_options.busName, pidfd,
                                      std::chrono::steady_clock::now() + m_options.limit);
        if (pidfd >= 0) ::close(pidfd);
        if (up) return true;
        m_why = "dbusmock did not come up (python3-dbusmock missing?): " + readFile(out);
        stop();
        return false;
    }
    // Ends the service (SIGKILL) and waits for it.
    void stop() { m_child.reset(); }
    // Freezes and thaws the service: its name stays owned, calls get no reply.
    void pause() {
        if (m_child) ::kill(m_child->pid(), SIGSTOP);
    }
    void resume() {
        if (m_child) ::kill(m_child->pid(), SIGCONT);
    }

  private:
    const PrivateBus& m_bus;
    Options m_options;
    std::string m_logPath;
    std::string m_why;
    std::optional<Child> m_child;
};

}  // namespace ww::test
