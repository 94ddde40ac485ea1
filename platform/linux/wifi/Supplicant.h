#pragma once

// A wpa_supplicant that owns a device's link: the kernel refuses
// NL80211_CMD_DISCONNECT from anyone else, and the supplicant would join
// again anyway. Reached through its control socket (DIR/IFACE: one datagram
// command, one datagram reply, from a socket bound to a path of our own) or
// its D-Bus interface fi.w1.wpa_supplicant1.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/linux/wifi/SystemBus.h"

namespace ww::linuxwifi {

// What one control-socket command gave.
struct ControlReply {
    std::optional<std::string> text;  // the reply, when one came
    bool absent = false;              // nobody listens at that path
    std::string why;                  // when no reply came
};

// Sends `command` to the control socket at `socketPath` and waits at most
// `limit` for the answer.
ControlReply wpaControlRequest(const std::string& socketPath, const std::string& command,
                               std::chrono::milliseconds limit);

// The value of `key` in a STATUS reply ("wpa_state=COMPLETED" lines).
std::optional<std::string> statusValue(const std::string& status, const std::string& key);

// A state as D-Bus names it: lower case ("interface_disabled").
std::string supplicantState(const std::string& state);

// Whether a supplicant in `state` (the control socket's upper-case
// "COMPLETED" or D-Bus's "completed") is on a network or trying to join one:
// everything but "disconnected" (told to stay off) and "inactive" (nothing
// to join).
bool supplicantSeeksNetwork(const std::string& state);

// The supplicant of one interface, however it is reached.
class Supplicant {
  public:
    virtual ~Supplicant() = default;
    // STATUS's wpa_state / the Interface's State; nothing and why when it
    // does not answer.
    virtual std::optional<std::string> state(std::string& why) = 0;
    // DISCONNECT / Disconnect(); RECONNECT / Reconnect(). False and why
    // when refused.
    virtual bool disconnect(std::string& why) = 0;
    virtual bool reconnect(std::string& why) = 0;
    // "wpa_supplicant (control socket PATH)" or "wpa_supplicant (D-Bus)".
    virtual std::string title() const = 0;
};

// The supplicant of `ifname`: through its control socket in `controlDir`
// when one answers there, else through D-Bus when `bus` is given and the
// supplicant knows the interface (`bus` is asked only then, and gives the
// system bus where fi.w1.wpa_supplicant1 is on it); nothing when no
// supplicant owns the link. A control socket that exists but cannot be
// reached (permissions) is still its supplicant: its commands then fail
// with why.
std::unique_ptr<Supplicant> findSupplicant(const std::string& ifname, const std::string& controlDir,
                                           const std::function<std::shared_ptr<SystemBus>()>& bus,
                                           std::chrono::milliseconds limit);

}  // namespace ww::linuxwifi
