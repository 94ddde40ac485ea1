#pragma once

// The Linux Wi-Fi backends behind `--wifi`: NetworkManager and iwd over
// D-Bus, the kernel (nl80211 and the device's own rfkill switch), and the
// choice among them (`auto`). The agent sees them only as a WiFiClient.

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/WiFiInterface.h"
#include "platform/linux/wifi/SystemBus.h"
#include "platform/linux/wifi/WiFiDevice.h"

namespace ww::linuxwifi {

struct LinuxWiFiOptions {
    // Stands for /sys (the kernel backend's wireless devices and rfkill switches).
    std::string sysfsRoot = "/sys";
    // Stands for /dev/rfkill.
    std::string rfkillDevice = "/dev/rfkill";
    // The limit of every D-Bus method call.
    std::chrono::milliseconds callTimeout{2000};
    // The system bus; empty: DBUS_SYSTEM_BUS_ADDRESS when set, else the
    // standard socket.
    std::string systemBusAddress;
    // Where a wpa_supplicant keeps its control sockets (one per interface).
    std::string wpaSupplicantDir = "/run/wpa_supplicant";
};

// The system bus connection the D-Bus backends share: opened on first use and
// again after it broke (a timed-out call, a closed connection), but not again
// within one call limit of an opening that timed out.
class BusHolder {
  public:
    BusHolder(std::string address, std::chrono::milliseconds callTimeout)
        : m_address(std::move(address)), m_timeout(callTimeout) {}
    std::shared_ptr<SystemBus> bus(DBusError& error);
    // The bus, once `service` is seen on it; else nothing, with why in `why`
    // ("no system bus (...)", "X is not on the system bus", ...).
    std::shared_ptr<SystemBus> busWith(const char* service, std::string& why);

  private:
    std::mutex m_mutex;
    std::string m_address;
    std::chrono::milliseconds m_timeout;
    std::shared_ptr<SystemBus> m_bus;
    std::optional<std::chrono::steady_clock::time_point> m_silentUntil;
    DBusError m_silentError;
    // The socket that was not there at the last try: looked for again with a
    // stat, not a connection, until it appears.
    std::string m_absentSocket;
    DBusError m_absentError;
};

// What a backend finds when it looks: whether it is there at all (the daemon
// on the bus, a wireless device) and its default device (which may be
// missing while it is there, as with iwd without a device), or why not.
struct BackendLookup {
    bool available = false;
    WiFiDevicePtr device;
    std::string why;
};

// A Wi-Fi device a daemon offers: its object path, interface name, and
// whether it is on a network.
struct DeviceCandidate {
    std::string path, name;
    bool connected = false;
};
// The device the agent acts on: a connected one first, then by name (so the
// choice stays the same from one check to the next). Null when none.
const DeviceCandidate* preferredDevice(std::vector<DeviceCandidate>& candidates);

class WiFiBackend {
  public:
    virtual ~WiFiBackend() = default;
    // "nm", "iwd" or "kernel".
    virtual const char* name() const = 0;
    // For the log: "NetworkManager", "iwd", "nl80211 and rfkill".
    virtual const char* title() const = 0;
    // Looks afresh (on the check's thread). The default device is the one
    // with an active connection, else the first by interface name.
    virtual BackendLookup lookUp() = 0;
};

std::unique_ptr<WiFiBackend> makeNetworkManagerBackend(std::shared_ptr<BusHolder> bus,
                                                       const LinuxWiFiOptions& options);
std::unique_ptr<WiFiBackend> makeIwdBackend(std::shared_ptr<BusHolder> bus,
                                            const LinuxWiFiOptions& options);
// Without `bus`, one of its own (for a wpa_supplicant reached over D-Bus).
std::unique_ptr<WiFiBackend> makeKernelBackend(const LinuxWiFiOptions& options,
                                               std::shared_ptr<BusHolder> bus = nullptr);

// A client over the Linux backends, with the device itself for whole-link
// reads (`airport -I`, benchmarks).
class LinuxWiFiClient : public WiFiClient {
  public:
    // The default device now; nothing without one.
    virtual WiFiDevicePtr device() = 0;
    // The backend in use ("nm", "iwd", "kernel", "none").
    std::string backendName() const override = 0;
    // Looks (device()) and remembers what it found.
    CWInterfacePtr interface() override;
    // The device the last interface() found, without looking again: the
    // agent's own `airport -I` reads it, so that a check looks (and waits for
    // a daemon that hangs) once.
    WiFiDevicePtr lastDevice() const;

  private:
    mutable std::mutex m_lastMutex;
    WiFiDevicePtr m_last;
};

// One backend, named on the command line: looked up at every check, never
// replaced. Logs when it is missing and when it comes back.
class NamedWiFiClient : public LinuxWiFiClient {
  public:
    explicit NamedWiFiClient(std::unique_ptr<WiFiBackend> backend, bool log = true);
    WiFiDevicePtr device() override;
    std::string backendName() const override { return m_backend->name(); }

  private:
    std::unique_ptr<WiFiBackend> m_backend;
    bool m_log;
    std::string m_lastState;
};

// `auto`: the first candidate that is available, in order (nm, iwd,
// kernel), chosen at the first look and again whenever the chosen one is no
// longer available, or one earlier in the order is available again (a
// NetworkManager that restarts must not leave the agent on the kernel
// backend, whose disconnects NetworkManager would undo); none when no
// candidate is. Every candidate is looked at once per look at most, so a
// hung daemon costs one call limit. Logs the choice and the device once, and
// every change.
class AutoWiFiClient : public LinuxWiFiClient {
  public:
    explicit AutoWiFiClient(std::vector<std::unique_ptr<WiFiBackend>> candidates, bool log = true);
    WiFiDevicePtr device() override;
    std::string backendName() const override;

  private:
    void noteDevice(const WiFiDevicePtr& device);

    std::vector<std::unique_ptr<WiFiBackend>> m_candidates;
    bool m_log;
    mutable std::mutex m_mutex;
    WiFiBackend* m_current = nullptr;
    std::string m_deviceName;
    bool m_noneLogged = false;
};

// "auto" (or its alias "linux"), "nm", "iwd" or "kernel"; nothing, and why,
// for any other name. `log`: write the choice to the agent's log.
std::unique_ptr<LinuxWiFiClient> makeLinuxWiFiClient(const std::string& name,
                                                     const LinuxWiFiOptions& options,
                                                     std::string& error, bool log = true);

// The options with the test-bench overrides from the environment:
// WIREWATCH_WIFI_SYSFS_ROOT and WIREWATCH_RFKILL_DEVICE.
LinuxWiFiOptions linuxWiFiOptionsFromEnvironment();

}  // namespace ww::linuxwifi
