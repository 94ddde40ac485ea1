#pragma once

// A Wi-Fi device's own rfkill switch: found through sysfs
// (/sys/class/net/DEV/phy80211 -> phyN, /sys/class/ieee80211/phyN/rfkillM/),
// read there (soft, hard) and changed by writing one RFKILL_OP_CHANGE event
// for that switch's index to /dev/rfkill. Never an event for all switches of
// a type, which would also cut Bluetooth.

#include <cstdint>
#include <optional>
#include <string>

namespace ww::linuxwifi {

struct RfkillSwitch {
    std::uint32_t index = 0;
    std::string name;   // rfkill0
    bool soft = false;  // blocked by software
    bool hard = false;  // blocked by a hardware switch
};

class Rfkill {
  public:
    // `sysfsRoot` stands for /sys, `devicePath` for /dev/rfkill (tests use a
    // fake tree and a plain file).
    Rfkill(std::string sysfsRoot, std::string devicePath)
        : m_root(std::move(sysfsRoot)), m_device(std::move(devicePath)) {}

    // The phy of a network device ("phy0"); nothing when it is not wireless.
    std::optional<std::string> phyOf(const std::string& netdev) const;
    // The phy's own switch of type wlan (the first by index when there are
    // several); nothing when it has none.
    std::optional<RfkillSwitch> switchOf(const std::string& phy) const;
    // Both steps.
    std::optional<RfkillSwitch> switchOfDevice(const std::string& netdev) const;

    // Sets or lifts the soft block of one switch. False and why on failure
    // (the device cannot be opened or written).
    bool setSoftBlock(std::uint32_t index, bool blocked, std::string& error) const;

    // The 8-byte event (struct rfkill_event, version 1) that changes one WLAN
    // switch: idx, type 1, op 2 (change), soft, hard 0.
    static std::string changeEvent(std::uint32_t index, bool blocked);

  private:
    std::string m_root;
    std::string m_device;
};

}  // namespace ww::linuxwifi
