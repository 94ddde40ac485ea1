#include "platform/linux/wifi/WiFiBackend.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>

#include "logging/DDLog.h"

namespace ww::linuxwifi {

// ---- the agent's view of a device ------------------------------------------------------------

bool LinkInterface::setPower(bool on, std::optional<std::string>* error) {
    std::string why;
    if (m_device->setPower(on, why)) return true;
    if (error) *error = why;
    return false;
}

bool LinkInterface::disassociate(std::optional<std::string>* error) {
    std::string why;
    if (m_device->disassociate(why)) return true;
    WWLogError("Wi-Fi: cannot disconnect: %@", why);
    if (error) *error = why;
    return false;
}

CWInterfacePtr LinuxWiFiClient::interface() {
    WiFiDevicePtr d = device();
    {
        std::lock_guard lock(m_lastMutex);
        m_last = d;
    }
    if (!d) return nullptr;
    return std::make_shared<LinkInterface>(std::move(d));
}

WiFiDevicePtr LinuxWiFiClient::lastDevice() const {
    std::lock_guard lock(m_lastMutex);
    return m_last;
}

// ---- the shared bus --------------------------------------------------------------------------

std::shared_ptr<SystemBus> BusHolder::bus(DBusError& error) {
    std::lock_guard lock(m_mutex);
    if (m_bus && !m_bus->broken()) return m_bus;
    // A bus that has just not answered is not asked again at once: NetworkManager
    // and iwd, looked for one after the other, wait for it once.
    const auto now = std::chrono::steady_clock::now();
    if (m_silentUntil && now < *m_silentUntil) {
        error = m_silentError;
        return nullptr;
    }
    m_silentUntil.reset();
    // Machines without a system bus are asked at every check: a stat there,
    // not a socket and a connection refused twice over.
    if (!m_absentSocket.empty()) {
        struct stat st {};
        if (::stat(m_absentSocket.c_str(), &st) != 0 && errno == ENOENT) {
            error = m_absentError;
            return nullptr;
        }
        m_absentSocket.clear();
    }
    m_bus = SystemBus::open(m_address, m_timeout, error);
    if (!m_bus && error.errnum == ENOENT) {
        m_absentSocket = SystemBus::socketPath(m_address);
        m_absentError = error;
    }
    if (!m_bus && error.errnum == ETIMEDOUT) {
        m_silentUntil = std::chrono::steady_clock::now() + m_timeout;
        m_silentError = error;
    }
    return m_bus;
}

std::shared_ptr<SystemBus> BusHolder::busWith(const char* service, std::string& why) {
    DBusError error;
    auto b = bus(error);
    if (!b) {
        why = "no system bus (" + error.text() + ")";
        return nullptr;
    }
    auto owned = b->nameHasOwner(service, error);
    if (!owned || !*owned) {
        why = owned ? std::string(service) + " is not on the system bus"
                    : "the system bus does not answer (" + error.text() + ")";
        return nullptr;
    }
    return b;
}

const DeviceCandidate* preferredDevice(std::vector<DeviceCandidate>& candidates) {
    if (candidates.empty()) return nullptr;
    std::sort(candidates.begin(), candidates.end(),
              [](const DeviceCandidate& a, const DeviceCandidate& b) {
                  if (a.connected != b.connected) return a.connected;
                  return a.name < b.name;
              });
    return &candidates.front();
}

// ---- one named backend -----------------------------------------------------------------------

NamedWiFiClient::NamedWiFiClient(std::unique_ptr<WiFiBackend> backend, bool log)
    : m_backend(std::move(backend)), m_log(log) {}

WiFiDevicePtr NamedWiFiClient::device() {
    BackendLookup found = m_backend->lookUp();
    // One line per change of what the backend offers.
    std::string state = found.device ? "device " + found.device->name() : "none: " + found.why;
    if (m_log && state != m_lastState) {
        if (found.device) {
            WWLogInfo("Wi-Fi backend: %@ (%@), device %@", m_backend->name(), m_backend->title(),
                      found.device->name());
        } else {
            WWLogInfo("Wi-Fi backend: %@ (%@) has no Wi-Fi device now: %@", m_backend->name(),
                      m_backend->title(), found.why);
        }
    }
    m_lastState = state;
    return found.device;
}

// ---- auto ------------------------------------------------------------------------------------

AutoWiFiClient::AutoWiFiClient(std::vector<std::unique_ptr<WiFiBackend>> candidates, bool log)
    : m_candidates(std::move(candidates)), m_log(log) {}

std::string AutoWiFiClient::backendName() const {
    std::lock_guard lock(m_mutex);
    return m_current ? m_current->name() : "none";
}

void AutoWiFiClient::noteDevice(const WiFiDevicePtr& device) {
    std::string name = device ? device->name() : std::string();
    if (m_log && name != m_deviceName) {
        if (device) {
            WWLogInfo("Wi-Fi backend: %@ (%@) now uses device %@", m_current->name(),
                      m_current->title(), name);
        } else {
            WWLogInfo("Wi-Fi backend: %@ (%@) has no Wi-Fi device now", m_current->name(),
                      m_current->title());
        }
    }
    m_deviceName = name;
}

WiFiDevicePtr AutoWiFiClient::device() {
    std::lock_guard lock(m_mutex);
    std::string reasons;
    for (const auto& candidate : m_candidates) {
        BackendLookup found = candidate->lookUp();
        if (!found.available) {
            if (candidate.get() == m_current) {
                if (m_log) {
                    WWLogInfo("Wi-Fi backend: %@ (%@) is gone (%@); choosing again",
                              candidate->name(), candidate->title(), found.why);
                }
                m_current = nullptr;
                m_deviceName.clear();
            }
            if (!reasons.empty()) reasons += "; ";
            reasons += std::string(candidate->name()) + ": " + found.why;
            continue;
        }
        if (candidate.get() == m_current) {
            noteDevice(found.device);
            return found.device;
        }
        // Chosen for the first time, after the one before went away, or
        // because one earlier in the order is back.
        m_current = candidate.get();
        m_deviceName = found.device ? found.device->name() : std::string();
        m_noneLogged = false;
        if (m_log) {
            if (found.device) {
                WWLogInfo("Wi-Fi backend: %@ (%@), device %@", candidate->name(),
                          candidate->title(), m_deviceName);
            } else {
                WWLogInfo("Wi-Fi backend: %@ (%@), no Wi-Fi device yet (%@)", candidate->name(),
                          candidate->title(), found.why);
            }
        }
        return found.device;
    }
    // Nothing to use: looked for again at every check, logged once.
    if (m_log && !m_noneLogged) WWLogInfo("Wi-Fi backend: none (%@)", reasons);
    m_noneLogged = true;
    return nullptr;
}

// ---- the factory -----------------------------------------------------------------------------

std::unique_ptr<LinuxWiFiClient> makeLinuxWiFiClient(const std::string& name,
                                                     const LinuxWiFiOptions& options,
                                                     std::string& error, bool log) {
    auto bus = std::make_shared<BusHolder>(options.systemBusAddress, options.callTimeout);
    if (name == "auto" || name == "linux") {
        std::vector<std::unique_ptr<WiFiBackend>> candidates;
        candidates.push_back(makeNetworkManagerBackend(bus, options));
        candidates.push_back(makeIwdBackend(bus, options));
        candidates.push_back(makeKernelBackend(options, bus));
        return std::make_unique<AutoWiFiClient>(std::move(candidates), log);
    }
    if (name == "nm") {
        return std::make_unique<NamedWiFiClient>(makeNetworkManagerBackend(bus, options), log);
    }
    if (name == "iwd") return std::make_unique<NamedWiFiClient>(makeIwdBackend(bus, options), log);
    if (name == "kernel") {
        return std::make_unique<NamedWiFiClient>(makeKernelBackend(options, bus), log);
    }
    error = "unknown Linux Wi-Fi backend '" + name + "'";
    return nullptr;
}

LinuxWiFiOptions linuxWiFiOptionsFromEnvironment() {
    LinuxWiFiOptions options;
    if (const char* root = std::getenv("WIREWATCH_WIFI_SYSFS_ROOT"); root && *root) {
        options.sysfsRoot = root;
    }
    if (const char* device = std::getenv("WIREWATCH_RFKILL_DEVICE"); device && *device) {
        options.rfkillDevice = device;
    }
    return options;
}

}  // namespace ww::linuxwifi
