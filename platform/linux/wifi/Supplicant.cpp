#include "platform/linux/wifi/Supplicant.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/foundation/Text.h"

namespace ww::linuxwifi {

namespace {

constexpr const char* kService = "fi.w1.wpa_supplicant1";
constexpr const char* kPath = "/fi/w1/wpa_supplicant1";
constexpr const char* kInterface = "fi.w1.wpa_supplicant1.Interface";

bool fillAddress(const std::string& path, sockaddr_un& address) {
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

// A datagram socket connected to `path`; -1 with `absent` when nobody
// listens there, -1 with why otherwise.
int connectTo(const std::string& path, bool& absent, std::string& why) {
    absent = false;
    sockaddr_un address;
    if (!fillAddress(path, address)) {
        absent = true;
        why = "no control socket at " + path;
        return -1;
    }
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        why = std::string("cannot open a socket: ") + std::strerror(errno);
        return -1;
    }
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        int e = errno;
        ::close(fd);
        // A socket file left behind by a supplicant that is gone refuses.
        absent = e == ENOENT || e == ECONNREFUSED || e == ENOTSOCK || e == ENOTDIR;
        why = "cannot reach " + path + ": " + std::strerror(e);
        return -1;
    }
    return fd;
}

class ControlSocketSupplicant : public Supplicant {
  public:
    ControlSocketSupplicant(std::string path, std::chrono::milliseconds limit)
        : m_path(std::move(path)), m_limit(limit) {}

    std::optional<std::string> state(std::string& why) override {
        auto reply = wpaControlRequest(m_path, "STATUS", m_limit);
        if (!reply.text) {
            why = "wpa_supplicant does not answer at " + m_path + ": " + reply.why;
            return std::nullopt;
        }
        auto s = statusValue(*reply.text, "wpa_state");
        if (!s) why = "wpa_supplicant's STATUS names no state";
        return s;
    }
    bool disconnect(std::string& why) override { return command("DISCONNECT", why); }
    bool reconnect(std::string& why) override { return command("RECONNECT", why); }
    std::string title() const override { return "wpa_supplicant (control socket " + m_path + ")"; }

  private:
    bool command(const char* name, std::string& why) {
        auto reply = wpaControlRequest(m_path, name, m_limit);
        if (!reply.text) {
            why = "wpa_supplicant does not answer at " + m_path + ": " + reply.why;
            return false;
        }
        std::string text(text::trim(*reply.text));
        if (text == "OK") return true;
        why = "wpa_supplicant answered " + std::string(name) + " with " +
              (text.empty() ? std::string("nothing") : text);
        return false;
    }

    std::string m_path;
    std::chrono::milliseconds m_limit;
};

class DBusSupplicant : public Supplicant {
  public:
    DBusSupplicant(std::shared_ptr<SystemBus> bus, std::string path)
        : m_bus(std::move(bus)), m_path(std::move(path)) {}

    std::optional<std::string> state(std::string& why) override {
        DBusError e;
        auto v = m_bus->getProperty(kService, m_path, kInterface, "State", e);
        if (!v || !v->asString()) {
            why = "wpa_supplicant gives no state: " + e.text();
            return std::nullopt;
        }
        return v->asString();
    }
    bool disconnect(std::string& why) override {
        DBusError e;
        if (m_bus->call(kService, m_path, kInterface, "Disconnect", e)) return true;
        if (e.is("fi.w1.wpa_supplicant1.NotConnected")) return true;
        why = "wpa_supplicant refused to disconnect: " + e.text();
        return false;
    }
    bool reconnect(std::string& why) override {
        DBusError e;
        if (m_bus->call(kService, m_path, kInterface, "Reconnect", e)) return true;
        why = "wpa_supplicant refused to reconnect: " + e.text();
        return false;
    }
    std::string title() const override { return "wpa_supplicant (D-Bus)"; }

  private:
    std::shared_ptr<SystemBus> m_bus;
    std::string m_path;
};

}  // namespace

ControlReply wpaControlRequest(const std::string& socketPath, const std::string& command,
                               std::chrono::milliseconds limit) {
    ControlReply out;
    int fd = connectTo(socketPath, out.absent, out.why);
    if (fd < 0) return out;
    // The supplicant answers to the sender's address: bind one of our own,
    // as its own command-line client does.
    static std::atomic<unsigned> s_counter{0};
    const std::string local =
        "/tmp/wirewatch-wpa-" + std::to_string(::getpid()) + "-" + std::to_string(s_counter++);
    sockaddr_un address;
    fillAddress(local, address);
    ::unlink(local.c_str());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        out.why = "cannot bind " + local + ": " + std::strerror(errno);
        ::close(fd);
        return out;
    }
    auto deadline = std::chrono::steady_clock::now() + limit;
    if (::send(fd, command.data(), command.size(), 0) < 0) {
        out.why = std::string("cannot send: ") + std::strerror(errno);
    } else {
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{fd, POLLIN, 0};
            int r = left.count() > 0 ? ::poll(&p, 1, static_cast<int>(left.count())) : 0;
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) {
                out.why = r == 0 ? "no answer within " + std::to_string(limit.count()) + " ms"
                                 : std::string("cannot wait: ") + std::strerror(errno);
                break;
            }
            char buffer[4096];
            ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n < 0) {
                if (errno == EINTR) continue;
                out.why = std::string("cannot receive: ") + std::strerror(errno);
                break;
            }
            // Event messages ("<3>CTRL-EVENT-...") are not the reply.
            if (n > 0 && buffer[0] == '<') continue;
            out.text = std::string(buffer, static_cast<size_t>(n));
            break;
        }
    }
    ::close(fd);
    ::unlink(local.c_str());
    return out;
}

std::optional<std::string> statusValue(const std::string& status, const std::string& key) {
    for (std::string_view line : text::split(status, '\n')) {
        if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 &&
            line[key.size()] == '=') {
            return std::string(text::trim(line.substr(key.size() + 1)));
        }
    }
    return std::nullopt;
}

std::string supplicantState(const std::string& state) { return text::toLowerAscii(state); }

bool supplicantSeeksNetwork(const std::string& state) {
    const std::string s = supplicantState(state);
    return !s.empty() && s != "disconnected" && s != "inactive";
}

std::unique_ptr<Supplicant> findSupplicant(const std::string& ifname, const std::string& controlDir,
                                           const std::function<std::shared_ptr<SystemBus>()>& bus,
                                           std::chrono::milliseconds limit) {
    if (!ifname.empty() && ifname.find('/') == std::string::npos) {
        const std::string path = controlDir + "/" + ifname;
        bool absent = false;
        std::string why;
        int fd = connectTo(path, absent, why);
        if (fd >= 0) ::close(fd);
        if (!absent) return std::make_unique<ControlSocketSupplicant>(path, limit);
    }
    // Started with -u, without a control socket: its D-Bus interface.
    auto b = bus ? bus() : nullptr;
    if (!b) return nullptr;
    DBusError e;
    auto object = b->call(kService, kPath, kService, "GetInterface", {{'s', ifname}}, e);
    if (!object || !object->asString()) return nullptr;  // InterfaceUnknown: not its link
    return std::make_unique<DBusSupplicant>(b, *object->asString());
}

}  // namespace ww::linuxwifi
