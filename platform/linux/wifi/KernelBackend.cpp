// The kernel backend, for machines without NetworkManager or iwd: power is
// the soft block of the device's own rfkill switch, disassociation goes
// through the wpa_supplicant that owns the link (the kernel refuses
// NL80211_CMD_DISCONNECT from anyone else, and the supplicant would join
// again) or, where none does, NL80211_CMD_DISCONNECT; every link value comes
// from nl80211.

#include <net/if.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <set>

#include "platform/foundation/FileUtil.h"
#include "platform/foundation/Text.h"
#include "platform/linux/netlink/LinkControl.h"
#include "platform/linux/wifi/Nl80211.h"
#include "platform/linux/wifi/Rfkill.h"
#include "platform/linux/wifi/Supplicant.h"
#include "platform/linux/wifi/WiFiBackend.h"

namespace ww::linuxwifi {

namespace {

// Whether the interface is administratively up; nothing when it cannot be
// read (no such device).
std::optional<bool> interfaceUp(const std::string& name) {
    std::string ignored;
    auto link = netlink::LinkControl::open(ignored);
    return link ? link->isUp(name, ignored) : std::nullopt;
}

bool bringUp(const std::string& name, std::string& error) {
    std::string why;
    auto link = netlink::LinkControl::open(why);
    if (link && link->setUp(name, true, why)) return true;
    error = "cannot bring " + name + " up again: " + why;
    return false;
}

// What the agent itself did to a device, so that power on undoes exactly
// that: a supplicant it told to disconnect, an interface its block took down.
struct KernelMemory {
    std::mutex mutex;
    std::set<std::string> disconnected;
    std::set<std::string> downedByBlock;
};

class KernelDevice : public WiFiDevice {
  public:
    KernelDevice(std::string name, std::shared_ptr<Nl80211> nl, const LinuxWiFiOptions& options,
                 std::shared_ptr<BusHolder> bus, std::shared_ptr<KernelMemory> memory)
        : m_name(std::move(name)),
          m_nl(std::move(nl)),
          m_rfkill(options.sysfsRoot, options.rfkillDevice),
          m_controlDir(options.wpaSupplicantDir),
          m_limit(options.callTimeout),
          m_bus(std::move(bus)),
          m_memory(std::move(memory)) {}

    const std::string& name() const override { return m_name; }

    WiFiLink read(unsigned fields) override {
        WiFiLink link;
        if (fields != kLinkPower) link = m_nl->readLink(m_name, fields);
        if (fields & kLinkPower) {
            auto s = m_rfkill.switchOfDevice(m_name);
            link.power = s && !s->soft && !s->hard;
        }
        return link;
    }

    bool setPower(bool on, std::string& error) override {
        auto s = m_rfkill.switchOfDevice(m_name);
        if (!s) {
            error = m_name + " has no rfkill switch of its own to switch Wi-Fi with";
            return false;
        }
        if (on && s->hard) {
            error = "Wi-Fi is switched off by a hardware switch";
            return false;
        }
        // The kernel takes a blocked radio's interfaces down and leaves them
        // down when the block goes: note whether this block is the one.
        const bool wasUp = !on && !s->soft && interfaceUp(m_name).value_or(false);
        if (!m_rfkill.setSoftBlock(s->index, !on, error)) return false;
        std::lock_guard lock(m_memory->mutex);
        if (!on) {
            if (wasUp) m_memory->downedByBlock.insert(m_name);
            return true;
        }
        if (m_memory->downedByBlock.count(m_name)) {
            if (!interfaceUp(m_name).value_or(true) && !bringUp(m_name, error)) {
                error = "Wi-Fi is on, but " + error;
                return false;
            }
            m_memory->downedByBlock.erase(m_name);
        }
        // Join again the network the agent itself left: the supplicant stays
        // off until told.
        if (!m_memory->disconnected.count(m_name)) return true;
        auto supplicant = findSupplicant(m_name, m_controlDir, supplicantBus(), m_limit);
        if (!supplicant) {
            m_memory->disconnected.erase(m_name);  // gone: nobody to tell
            return true;
        }
        std::string why;
        if (supplicant->reconnect(why)) {
            m_memory->disconnected.erase(m_name);
            return true;
        }
        // An interface that has just come up is not the supplicant's yet:
        // the next check asks again.
        std::string ignored;
        auto state = supplicant->state(ignored);
        if (state && supplicantState(*state) == "interface_disabled") return true;
        error = "Wi-Fi is on, but " + supplicant->title() + " did not join " + m_name +
                " to its network again: " + why;
        return false;
    }

    bool disassociate(std::string& error) override {
        if (auto supplicant = findSupplicant(m_name, m_controlDir, supplicantBus(), m_limit)) {
            std::string why;
            auto state = supplicant->state(why);
            if (!state) {
                error = why;
                return false;
            }
            if (!supplicantSeeksNetwork(*state)) return true;  // off a network, and stays off
            if (!supplicant->disconnect(why)) {
                error = why;
                return false;
            }
            std::lock_guard lock(m_memory->mutex);
            m_memory->disconnected.insert(m_name);
            return true;
        }
        unsigned index = ::if_nametoindex(m_name.c_str());
        if (index == 0) {
            error = "no network device " + m_name;
            return false;
        }
        return m_nl->disconnect(index, error);
    }

  private:
    std::function<std::shared_ptr<SystemBus>()> supplicantBus() {
        return [bus = m_bus] {
            std::string why;
            return bus->busWith("fi.w1.wpa_supplicant1", why);
        };
    }

    std::string m_name;
    std::shared_ptr<Nl80211> m_nl;
    Rfkill m_rfkill;
    std::string m_controlDir;
    std::chrono::milliseconds m_limit;
    std::shared_ptr<BusHolder> m_bus;
    std::shared_ptr<KernelMemory> m_memory;
};

class KernelBackend : public WiFiBackend {
  public:
    KernelBackend(const LinuxWiFiOptions& options, std::shared_ptr<BusHolder> bus)
        : m_options(options),
          m_nl(std::make_shared<Nl80211>()),
          m_bus(std::move(bus)),
          m_memory(std::make_shared<KernelMemory>()) {}

    const char* name() const override { return "kernel"; }
    const char* title() const override { return "nl80211 and rfkill"; }

    BackendLookup lookUp() override {
        BackendLookup out;
        struct Found {
            std::string name;
            bool up;
        };
        std::vector<Found> wireless;
        const std::string net = m_options.sysfsRoot + "/class/net";
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(net, ec)) {
            const std::string dir = entry.path().string();
            std::error_code e2;
            if (!std::filesystem::exists(dir + "/phy80211", e2) &&
                !std::filesystem::exists(dir + "/wireless", e2)) {
                continue;
            }
            auto state = file::readAll(dir + "/operstate");
            bool up = state && text::trim(*state) == "up";
            wireless.push_back(Found{entry.path().filename().string(), up});
        }
        if (wireless.empty()) {
            out.why = "no wireless network device in " + net;
            return out;
        }
        std::sort(wireless.begin(), wireless.end(), [](const Found& a, const Found& b) {
            if (a.up != b.up) return a.up;
            return a.name < b.name;
        });
        out.available = true;
        out.device =
            std::make_shared<KernelDevice>(wireless.front().name, m_nl, m_options, m_bus, m_memory);
        return out;
    }

  private:
    LinuxWiFiOptions m_options;
    std::shared_ptr<Nl80211> m_nl;
    std::shared_ptr<BusHolder> m_bus;
    std::shared_ptr<KernelMemory> m_memory;
};

}  // namespace

std::unique_ptr<WiFiBackend> makeKernelBackend(const LinuxWiFiOptions& options,
                                               std::shared_ptr<BusHolder> bus) {
    if (!bus) bus = std::make_shared<BusHolder>(options.systemBusAddress, options.callTimeout);
    return std::make_unique<KernelBackend>(options, std::move(bus));
}

}  // namespace ww::linuxwifi
