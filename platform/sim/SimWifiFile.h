#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Plist.h"

namespace ww::sim {

// The network a powered radio joins while it is not associated.
struct SimJoinNetwork {
    std::string ssid;
    std::optional<std::string> bssid;
    // IPv4 addresses with prefix length, as texts ("198.51.100.2/24"); checked
    // when the radio joins.
    std::vector<std::string> addresses;
};

// The simulated Wi-Fi's state, as kept in its file (an XML property list
// dictionary). Keys: "present" (boolean, default true), "power" (boolean),
// "interfaceMode", "security", "activePHYMode" (integers), "ssid", "bssid"
// (texts, absent when not associated), "channelNumber", "channelBand",
// "channelWidth" (integers; no "channelNumber" means no channel),
// "transmitRate" (real), "rssiValue", "noiseMeasurement" (integers), "mcs"
// (text, what `airport -I` prints after "MCS: "), "failPower" (text: every
// power change fails with it), "failDisconnect" (text: every disconnect fails
// with it), and "operations" (the log of changes).
//
// Two keys make the radio act on the machine:
// - "device" (text): a network device that mirrors the radio. Power off sets
//   it down and, as a real radio that loses its network, removes "ssid",
//   "bssid" and the device's IPv4 addresses; power on sets it up;
//   disassociating removes "ssid", "bssid" and the device's IPv4 addresses.
// - "joinNetwork" (dictionary: "ssid" text, required; "bssid" text;
//   "addresses" array of texts like "198.51.100.2/24"): switching power on
//   while not associated joins it: "ssid" and "bssid" are set from it and,
//   with a device, its addresses are added to the device.
struct SimWifiState {
    bool present = true;
    bool power = false;
    std::int64_t interfaceMode = 0;
    std::int64_t security = 0;
    std::int64_t activePHYMode = 0;
    std::optional<std::string> ssid;
    std::optional<std::string> bssid;
    std::optional<std::int64_t> channelNumber;
    std::int64_t channelBand = 0;
    std::int64_t channelWidth = 0;
    double transmitRate = 0;
    std::int64_t rssiValue = 0;
    std::int64_t noiseMeasurement = 0;
    std::optional<std::string> mcs;
    std::optional<std::string> failPower;
    std::optional<std::string> failDisconnect;
    std::optional<std::string> device;
    std::optional<SimJoinNetwork> joinNetwork;

    // Reads the keys above from a dictionary; keys of the wrong type read as
    // absent, and so does a "joinNetwork" without a text "ssid" (its
    // "addresses" keep only their text entries).
    static SimWifiState fromPlist(const plist::Value& dict);
};

class SimWifiFile {
public:
    explicit SimWifiFile(std::string path)
        : m_path(std::move(path)), m_cache(std::make_shared<Cache>()) {}
    const std::string& path() const { return m_path; }

    // The file's dictionary; nothing (and a reason) when it is missing, is no
    // property list, or its root is no dictionary.
    std::optional<plist::Value> read(std::string* error = nullptr) const;
    // The state; the file is read every time, but parsed only when its bytes
    // differ from the last read's (a state file keeps a growing list of
    // operations, which makes parsing the costly part).
    std::optional<SimWifiState> readState(std::string* error = nullptr) const;

    // Reads the file, lets `change` edit the dictionary, appends `operation` to
    // "operations" (when not empty) and writes the file back atomically.
    bool update(const std::function<void(plist::Value&)>& change, const std::string& operation,
                std::string* error = nullptr) const;

private:
    struct Cache {
        std::mutex mutex;
        std::size_t size = 0;
        std::size_t hash = 0;
        std::optional<SimWifiState> state;
    };
    std::string m_path;
    std::shared_ptr<Cache> m_cache;  // shared by copies, which read the same file
};

}  // namespace ww::sim
