#include "platform/linux/wifi/SystemBus.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <type_traits>

namespace ww::linuxwifi {

// ---- values --------------------------------------------------------------------------------

std::optional<bool> DBusValue::asBool() const {
    if (kind == Kind::Bool) return boolean;
    return std::nullopt;
}

std::optional<std::int64_t> DBusValue::asInt() const {
    if (kind == Kind::Int) return integer;
    if (kind == Kind::UInt &&
        unsignedInteger <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return static_cast<std::int64_t>(unsignedInteger);
    }
    return std::nullopt;
}

std::optional<std::uint32_t> DBusValue::asUInt32() const {
    auto v = asInt();
    if (!v || *v < 0 || *v > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    return static_cast<std::uint32_t>(*v);
}

std::optional<std::string> DBusValue::asString() const {
    if (kind == Kind::String) return text;
    return std::nullopt;
}

std::optional<std::string> DBusValue::bytesAsString() const {
    if (kind == Kind::Bytes) return std::string(bytes.begin(), bytes.end());
    return std::nullopt;
}

const DBusValue* DBusValue::find(const std::string& key) const {
    if (kind != Kind::Dict) return nullptr;
    auto it = entries.find(key);
    return it == entries.end() ? nullptr : &it->second;
}

std::string DBusError::text() const {
    if (!name.empty()) return message.empty() ? name : name + ": " + message;
    if (errnum != 0) return std::strerror(errnum);
    return "unknown D-Bus failure";
}

namespace {

std::string keyText(const DBusValue& key) {
    switch (key.kind) {
        case DBusValue::Kind::String:
            return key.text;
        case DBusValue::Kind::Int:
            return std::to_string(key.integer);
        case DBusValue::Kind::UInt:
            return std::to_string(key.unsignedInteger);
        case DBusValue::Kind::Bool:
            return key.boolean ? "true" : "false";
        default:
            return {};
    }
}

template <typename T>
int readBasic(sd_bus_message* m, char type, T& v) {
    return sd_bus_message_read_basic(m, type, &v);
}

// One integer of D-Bus type `type`, read as T and kept in the signed or the
// unsigned member by T's signedness.
template <typename T>
int readInteger(sd_bus_message* m, char type, DBusValue& out) {
    T v = 0;
    int r = readBasic(m, type, v);
    if constexpr (std::is_signed_v<T>) {
        out.kind = DBusValue::Kind::Int;
        out.integer = v;
    } else {
        out.kind = DBusValue::Kind::UInt;
        out.unsignedInteger = v;
    }
    return r;
}

int readDBusItems(sd_bus_message* m, DBusValue& out);

}  // namespace

int readDBusValue(sd_bus_message* m, DBusValue& out) {
    char type = 0;
    const char* contents = nullptr;
    int r = sd_bus_message_peek_type(m, &type, &contents);
    if (r <= 0) return r < 0 ? r : -EBADMSG;
    out = DBusValue{};
    switch (type) {
        case SD_BUS_TYPE_BYTE:
            return readInteger<std::uint8_t>(m, type, out);
        case SD_BUS_TYPE_BOOLEAN: {
            int v = 0;
            r = readBasic(m, type, v);
            out.kind = DBusValue::Kind::Bool;
            out.boolean = v != 0;
            return r;
        }
        case SD_BUS_TYPE_INT16:
            return readInteger<std::int16_t>(m, type, out);
        case SD_BUS_TYPE_UINT16:
            return readInteger<std::uint16_t>(m, type, out);
        case SD_BUS_TYPE_INT32:
        case SD_BUS_TYPE_UNIX_FD:
            return readInteger<std::int32_t>(m, type, out);
        case SD_BUS_TYPE_UINT32:
            return readInteger<std::uint32_t>(m, type, out);
        case SD_BUS_TYPE_INT64:
            return readInteger<std::int64_t>(m, type, out);
        case SD_BUS_TYPE_UINT64:
            return readInteger<std::uint64_t>(m, type, out);
        case SD_BUS_TYPE_DOUBLE: {
            double v = 0;
            r = readBasic(m, type, v);
            out.kind = DBusValue::Kind::Double;
            out.real = v;
            return r;
        }
        case SD_BUS_TYPE_STRING:
        case SD_BUS_TYPE_OBJECT_PATH:
        case SD_BUS_TYPE_SIGNATURE: {
            const char* v = nullptr;
            r = readBasic(m, type, v);
            out.kind = DBusValue::Kind::String;
            out.text = v ? v : "";
            return r;
        }
        case SD_BUS_TYPE_VARIANT: {
            if ((r = sd_bus_message_enter_container(m, type, contents)) < 0) return r;
            if ((r = readDBusValue(m, out)) < 0) return r;
            return sd_bus_message_exit_container(m);
        }
        case SD_BUS_TYPE_ARRAY: {
            std::string inner = contents ? contents : "";
            if (inner == "y") {
                const void* p = nullptr;
                size_t n = 0;
                r = sd_bus_message_read_array(m, SD_BUS_TYPE_BYTE, &p, &n);
                if (r < 0) return r;
                out.kind = DBusValue::Kind::Bytes;
                const auto* bytes = static_cast<const std::uint8_t*>(p);
                if (bytes) out.bytes.assign(bytes, bytes + n);
                return 1;
            }
            if ((r = sd_bus_message_enter_container(m, type, contents)) < 0) return r;
            if (inner.size() >= 2 && inner.front() == '{') {
                out.kind = DBusValue::Kind::Dict;
                std::string entry = inner.substr(1, inner.size() - 2);
                while ((r = sd_bus_message_enter_container(m, SD_BUS_TYPE_DICT_ENTRY,
                                                           entry.c_str())) > 0) {
                    DBusValue key, value;
                    if ((r = readDBusValue(m, key)) < 0) return r;
                    if ((r = readDBusValue(m, value)) < 0) return r;
                    out.entries[keyText(key)] = std::move(value);
                    if ((r = sd_bus_message_exit_container(m)) < 0) return r;
                }
                if (r < 0) return r;
            } else if ((r = readDBusItems(m, out)) < 0) {
                return r;
            }
            return sd_bus_message_exit_container(m);
        }
        case SD_BUS_TYPE_STRUCT: {
            if ((r = sd_bus_message_enter_container(m, type, contents)) < 0) return r;
            if ((r = readDBusItems(m, out)) < 0) return r;
            return sd_bus_message_exit_container(m);
        }
        default:
            return sd_bus_message_skip(m, nullptr);
    }
}

namespace {

// The members of an array or struct the message is inside, in order.
int readDBusItems(sd_bus_message* m, DBusValue& out) {
    out.kind = DBusValue::Kind::Array;
    int r;
    while ((r = sd_bus_message_at_end(m, 0)) == 0) {
        DBusValue item;
        if ((r = readDBusValue(m, item)) < 0) return r;
        out.items.push_back(std::move(item));
    }
    return r;
}

}  // namespace

// ---- the connection ------------------------------------------------------------------------

namespace {

constexpr const char* kDefaultSystemBus = "unix:path=/run/dbus/system_bus_socket";

std::uint64_t microseconds(std::chrono::steady_clock::duration d) {
    auto us = std::chrono::duration_cast<std::chrono::microseconds>(d).count();
    return us > 0 ? static_cast<std::uint64_t>(us) : 0;
}

std::string resolved(const std::string& address) {
    if (!address.empty()) return address;
    const char* env = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    return env && *env ? env : kDefaultSystemBus;
}

}  // namespace

std::string SystemBus::socketPath(const std::string& address) {
    const std::string where = resolved(address);
    const std::string prefix = "unix:path=";
    // Escaped or several addresses: no single file to watch.
    if (where.rfind(prefix, 0) != 0 || where.find_first_of(";%") != std::string::npos) return {};
    return where.substr(prefix.size(), where.find(',') - prefix.size());
}

std::shared_ptr<SystemBus> SystemBus::open(const std::string& address,
                                           std::chrono::milliseconds callTimeout,
                                           DBusError& error) {
    const std::string where = resolved(address);
    const auto deadline = std::chrono::steady_clock::now() + callTimeout;
    sd_bus* bus = nullptr;
    // sd_bus_start only connects and sends the first bytes; the bus's answer
    // (authentication, then the reply to Hello) is awaited here, under the
    // same limit as every call. Left to sd-bus, a bus that accepts and never
    // answers would hold the first call for its own 90-second limit.
    int r = sd_bus_new(&bus);
    if (r >= 0 && (r = sd_bus_set_address(bus, where.c_str())) >= 0 &&
        (r = sd_bus_set_bus_client(bus, 1)) >= 0 &&
        (r = sd_bus_set_method_call_timeout(bus, microseconds(callTimeout))) >= 0 &&
        (r = sd_bus_start(bus)) >= 0) {
        while ((r = sd_bus_is_ready(bus)) == 0) {
            if ((r = sd_bus_process(bus, nullptr)) < 0) break;
            if (r > 0) continue;
            const auto left = deadline - std::chrono::steady_clock::now();
            if (left <= std::chrono::steady_clock::duration::zero()) {
                r = -ETIMEDOUT;
                break;
            }
            if ((r = sd_bus_wait(bus, microseconds(left))) < 0) break;
        }
    }
    if (r < 0) {
        // No flush: it would wait for the greeting again, without our limit.
        sd_bus_close_unref(bus);
        error = DBusError{{}, {}, -r};
        return nullptr;
    }
    return std::shared_ptr<SystemBus>(new SystemBus(bus));
}

SystemBus::~SystemBus() { sd_bus_flush_close_unref(m_bus); }

bool SystemBus::broken() const {
    std::lock_guard lock(m_mutex);
    return m_broken.has_value();
}

template <typename Prepare, typename Read>
bool SystemBus::exchange(const Prepare& prepare, const Read& read, DBusError& error,
                         bool timeoutBreaks) {
    std::lock_guard lock(m_mutex);
    if (m_broken) {
        error = *m_broken;
        return false;
    }
    // Nothing here handles incoming messages: drop what has queued up (the
    // bus's greeting, late replies to calls that timed out).
    while (sd_bus_process(m_bus, nullptr) > 0) {
    }
    sd_bus_message* call = nullptr;
    int r = prepare(&call);
    if (r < 0) {
        sd_bus_message_unref(call);
        error = DBusError{{}, {}, -r};
        return false;
    }
    sd_bus_error busError = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    r = sd_bus_call(m_bus, call, 0, &busError, &reply);
    sd_bus_message_unref(call);
    bool ok = r >= 0;
    if (!ok) {
        error = DBusError{busError.name ? busError.name : "",
                          busError.message ? busError.message : "", -r};
        // A timeout or a closed connection: the service (or the bus) is not
        // answering; later calls would only wait again.
        if ((r == -ETIMEDOUT && timeoutBreaks) || sd_bus_is_open(m_bus) <= 0) m_broken = error;
    } else {
        r = read(reply);
        if (r < 0) {
            ok = false;
            error = DBusError{{}, "cannot read the reply", -r};
        }
    }
    sd_bus_error_free(&busError);
    sd_bus_message_unref(reply);
    return ok;
}

std::optional<bool> SystemBus::nameHasOwner(const std::string& name, DBusError& error) {
    int owned = 0;
    bool ok = exchange(
        [&](sd_bus_message** m) {
            int r = sd_bus_message_new_method_call(m_bus, m, "org.freedesktop.DBus",
                                                   "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                                   "NameHasOwner");
            return r < 0 ? r : sd_bus_message_append(*m, "s", name.c_str());
        },
        [&](sd_bus_message* reply) { return sd_bus_message_read(reply, "b", &owned); }, error);
    if (!ok) return std::nullopt;
    return owned != 0;
}

std::optional<DBusValue> SystemBus::getProperty(const std::string& destination,
                                                const std::string& path,
                                                const std::string& interface,
                                                const std::string& name, DBusError& error) {
    DBusValue value;
    bool ok = exchange(
        [&](sd_bus_message** m) {
            int r = sd_bus_message_new_method_call(m_bus, m, destination.c_str(), path.c_str(),
                                                   "org.freedesktop.DBus.Properties", "Get");
            return r < 0 ? r : sd_bus_message_append(*m, "ss", interface.c_str(), name.c_str());
        },
        [&](sd_bus_message* reply) { return readDBusValue(reply, value); }, error);
    if (!ok) return std::nullopt;
    return value;
}

std::optional<DBusDict> SystemBus::getAll(const std::string& destination, const std::string& path,
                                          const std::string& interface, DBusError& error) {
    DBusValue value;
    bool ok = exchange(
        [&](sd_bus_message** m) {
            int r = sd_bus_message_new_method_call(m_bus, m, destination.c_str(), path.c_str(),
                                                   "org.freedesktop.DBus.Properties", "GetAll");
            return r < 0 ? r : sd_bus_message_append(*m, "s", interface.c_str());
        },
        [&](sd_bus_message* reply) { return readDBusValue(reply, value); }, error);
    if (!ok) return std::nullopt;
    if (value.kind != DBusValue::Kind::Dict) {
        error = DBusError{{}, "GetAll gave no dictionary", EBADMSG};
        return std::nullopt;
    }
    return std::move(value.entries);
}

bool SystemBus::setProperty(const std::string& destination, const std::string& path,
                            const std::string& interface, const std::string& name, bool value,
                            DBusError& error) {
    return exchange(
        [&](sd_bus_message** m) {
            int r = sd_bus_message_new_method_call(m_bus, m, destination.c_str(), path.c_str(),
                                                   "org.freedesktop.DBus.Properties", "Set");
            return r < 0 ? r
                         : sd_bus_message_append(*m, "ssv", interface.c_str(), name.c_str(), "b",
                                                 static_cast<int>(value));
        },
        [](sd_bus_message*) { return 0; }, error);
}

std::optional<DBusValue> SystemBus::call(const std::string& destination, const std::string& path,
                                         const std::string& interface, const std::string& member,
                                         DBusError& error, bool timeoutBreaks) {
    return call(destination, path, interface, member, {}, error, timeoutBreaks);
}

std::optional<DBusValue> SystemBus::call(const std::string& destination, const std::string& path,
                                         const std::string& interface, const std::string& member,
                                         const std::vector<Argument>& arguments, DBusError& error,
                                         bool timeoutBreaks) {
    DBusValue value;
    bool ok = exchange(
        [&](sd_bus_message** m) {
            int r = sd_bus_message_new_method_call(m_bus, m, destination.c_str(), path.c_str(),
                                                   interface.c_str(), member.c_str());
            for (const Argument& a : arguments) {
                if (r < 0) break;
                r = sd_bus_message_append_basic(*m, a.type, a.text.c_str());
            }
            return r;
        },
        [&](sd_bus_message* reply) {
            if (sd_bus_message_at_end(reply, 1) > 0) return 0;
            return readDBusValue(reply, value);
        },
        error, timeoutBreaks);
    if (!ok) return std::nullopt;
    return value;
}

}  // namespace ww::linuxwifi
