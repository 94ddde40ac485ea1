// The kernel backend, for machines without NetworkManager or iwd: power is
// the soft block of the device's own rfkill switch, disassociation is
// NL80211_CMD_DISCONNECT (a supplicant such as wpa_supplicant may join again
// afterwards; the next check then disconnects again), and every link value
// comes from nl80211.

#include <net/if.h>

#include <algorithm>
#include <filesystem>

#include "platform/foundation/FileUtil.h"
#include "platform/foundation/Text.h"
#include "platform/linux/wifi/Nl80211.h"
#include "platform/linux/wifi/Rfkill.h"
#include "platform/linux/wifi/WiFiBackend.h"

namespace ww::linuxwifi {

namespace {

class KernelDevice : public WiFiDevice {
  public:
    KernelDevice(std::string name, std::shared_ptr<Nl80211> nl, const LinuxWiFiOptions& options)
        : m_name(std::move(name)),
          m_nl(std::move(nl)),
          m_rfkill(options.sysfsRoot, options.rfkillDevice) {}

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
        return m_rfkill.setSoftBlock(s->index, !on, error);
    }

    bool disassociate(std::string& error) override {
        unsigned index = ::if_nametoindex(m_name.c_str());
        if (index == 0) {
            error = "no network device " + m_name;
            return false;
        }
        return m_nl->disconnect(index, error);
    }

  private:
    std::string m_name;
    std::shared_ptr<Nl80211> m_nl;
    Rfkill m_rfkill;
};

class KernelBackend : public WiFiBackend {
  public:
    explicit KernelBackend(const LinuxWiFiOptions& options)
        : m_options(options), m_nl(std::make_shared<Nl80211>()) {}

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
        out.device = std::make_shared<KernelDevice>(wireless.front().name, m_nl, m_options);
        return out;
    }

  private:
    LinuxWiFiOptions m_options;
    std::shared_ptr<Nl80211> m_nl;
};

}  // namespace

std::unique_ptr<WiFiBackend> makeKernelBackend(const LinuxWiFiOptions& options) {
    return std::make_unique<KernelBackend>(options);
}

}  // namespace ww::linuxwifi
