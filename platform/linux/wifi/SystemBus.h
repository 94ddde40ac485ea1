#pragma once

// A small sd-bus client for the system bus: property reads and writes and
// argument-less method calls, every one under the same method-call timeout,
// with replies read into plain values. One connection may serve several
// threads (each call locks it).

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sd_bus;
struct sd_bus_message;

namespace ww::linuxwifi {

// A D-Bus value as read from a reply: integers of every width land in
// `integer` (signed types) or `unsignedInteger`, strings and object paths in
// `text`, byte arrays in `bytes`, other arrays and structures in `items`,
// dictionaries in `entries` (keys written as text).
struct DBusValue {
    enum class Kind { None, Bool, Int, UInt, Double, String, Bytes, Array, Dict };
    Kind kind = Kind::None;
    bool boolean = false;
    std::int64_t integer = 0;
    std::uint64_t unsignedInteger = 0;
    double real = 0;
    std::string text;
    std::vector<std::uint8_t> bytes;
    std::vector<DBusValue> items;
    std::map<std::string, DBusValue> entries;

    std::optional<bool> asBool() const;
    // Either integer kind, when it fits.
    std::optional<std::int64_t> asInt() const;
    std::optional<std::uint32_t> asUInt32() const;
    std::optional<std::string> asString() const;
    // A byte array as text (an SSID).
    std::optional<std::string> bytesAsString() const;
    // A dictionary entry; nothing when absent or when this is no dictionary.
    const DBusValue* find(const std::string& key) const;
};

using DBusDict = std::map<std::string, DBusValue>;

// Why a call failed: a bus error (name and message) or a system error.
struct DBusError {
    std::string name;
    std::string message;
    int errnum = 0;
    // "name: message", or the system error's text.
    std::string text() const;
    bool is(const char* errorName) const { return name == errorName; }
};

class SystemBus {
  public:
    // Connects to the bus at `address` ("unix:path=..."), or with an empty
    // address to the system bus (DBUS_SYSTEM_BUS_ADDRESS when set, as
    // sd_bus_open_system does), and waits for the bus's greeting within
    // `callTimeout`. Nothing, and why, when it cannot (ETIMEDOUT: the bus
    // did not answer in time).
    static std::shared_ptr<SystemBus> open(const std::string& address,
                                           std::chrono::milliseconds callTimeout, DBusError& error);
    // The socket file of a "unix:path=" address (the empty address as open()
    // resolves it), else empty.
    static std::string socketPath(const std::string& address);
    ~SystemBus();
    SystemBus(const SystemBus&) = delete;
    SystemBus& operator=(const SystemBus&) = delete;

    // org.freedesktop.DBus.NameHasOwner.
    std::optional<bool> nameHasOwner(const std::string& name, DBusError& error);
    // org.freedesktop.DBus.Properties.Get / GetAll / Set (a boolean).
    std::optional<DBusValue> getProperty(const std::string& destination, const std::string& path,
                                         const std::string& interface, const std::string& name,
                                         DBusError& error);
    std::optional<DBusDict> getAll(const std::string& destination, const std::string& path,
                                   const std::string& interface, DBusError& error);
    bool setProperty(const std::string& destination, const std::string& path,
                     const std::string& interface, const std::string& name, bool value,
                     DBusError& error);
    // A method without arguments; the reply's first value (kind None when
    // the reply carries none). With `timeoutBreaks` false a timed-out call
    // leaves the connection usable (for methods that may legitimately run
    // longer than the limit, such as joining a network).
    std::optional<DBusValue> call(const std::string& destination, const std::string& path,
                                  const std::string& interface, const std::string& member,
                                  DBusError& error, bool timeoutBreaks = true);
    // A method with string ('s') or object-path ('o') arguments, in order.
    struct Argument {
        char type;
        std::string text;
    };
    std::optional<DBusValue> call(const std::string& destination, const std::string& path,
                                  const std::string& interface, const std::string& member,
                                  const std::vector<Argument>& arguments, DBusError& error,
                                  bool timeoutBreaks = true);

    // True once a call timed out or the connection closed: every later call
    // fails at once with that error, so that a stuck service costs one
    // timeout, not one per value. Open a new connection to try again.
    bool broken() const;

  private:
    explicit SystemBus(sd_bus* bus) : m_bus(bus) {}
    // Sends a prepared call and hands the reply to `read`; locks the bus.
    template <typename Prepare, typename Read>
    bool exchange(const Prepare& prepare, const Read& read, DBusError& error,
                  bool timeoutBreaks = true);

    sd_bus* m_bus;
    mutable std::mutex m_mutex;
    std::optional<DBusError> m_broken;
};

// Reads one complete value at the message's read position (exposed for tests).
int readDBusValue(sd_bus_message* message, DBusValue& out);

}  // namespace ww::linuxwifi
