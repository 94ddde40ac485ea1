// Wi-Fi through the Linux backends, measured.
//
// reads: the cost of one Wi-Fi read through each backend: a whole link
//   (what `airport -I` reads), the ten values the details view reads one by
//   one, and the per-check look-up of the default device, through
//   NetworkManager (python3-dbusmock's template) and iwd (our dbusmock tree)
//   on a private bus; and nl80211's share, the parsing of the four replies of
//   one read (built with libnl) into a link.
// reaction (root): `wirewatch --headless` without --wifi in a network
//   namespace with NetworkManager's mock on the private bus, rule 0: the time
//   from adding the wired address to the mock receiving Device.Disconnect().
// Each is set against its peer measured in the same run: the simulated Wi-Fi
// (`--wifi sim:FILE`), read the same way and reacting to the same change.
//
// Usage: bench_wifi [--mode reads|reaction|both] [--trials N] [--reads N]

#include <linux/nl80211.h>
#include <netlink/genl/genl.h>
#include <netlink/netlink.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "platform/linux/wifi/Nl80211.h"
#include "platform/linux/wifi/WiFiBackend.h"
#include "platform/sim/SimWifiInterface.h"
#include "tests/support/dbus_NetworkManagerMock.h"
#include "tests/support/e2e_AgentInNamespace.h"

#ifndef WW_BUILD_TREE
#define WW_BUILD_TREE "."
#endif

namespace ww::test {
namespace {

using namespace std::chrono_literals;
using Micros = std::chrono::duration<double, std::micro>;
using Millis = std::chrono::duration<double, std::milli>;

struct Distribution {
    double min = 0, median = 0, p95 = 0, max = 0;
};

// Nearest-rank percentiles.
Distribution distributionOf(std::vector<double> values) {
    Distribution d;
    if (values.empty()) return d;
    std::sort(values.begin(), values.end());
    auto rank = [&](double p) {
        std::size_t i = static_cast<std::size_t>(std::ceil(p * static_cast<double>(values.size())));
        return values[std::clamp<std::size_t>(i, 1, values.size()) - 1];
    };
    d.min = values.front();
    d.median = rank(0.5);
    d.p95 = rank(0.95);
    d.max = values.back();
    return d;
}

void printRow(const char* what, const std::vector<double>& values, const char* unit) {
    Distribution d = distributionOf(values);
    std::printf("  %-34s n=%-6zu median %9.1f %s  p95 %9.1f %s  max %9.1f %s\n", what,
                values.size(), d.median, unit, d.p95, unit, d.max, unit);
}

// Microseconds of `n` runs of `work`, one each.
std::vector<double> timeRuns(int n, const std::function<void()>& work) {
    std::vector<double> out;
    out.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        auto start = std::chrono::steady_clock::now();
        work();
        out.push_back(Micros(std::chrono::steady_clock::now() - start).count());
    }
    return out;
}

// The values the details view reads, one by one, as it reads them.
double readTheDetails(CWInterface& iface) {
    return iface.powerOn() + static_cast<double>(iface.interfaceMode()) +
           static_cast<double>(iface.security()) + static_cast<double>(iface.activePHYMode()) +
           static_cast<double>(iface.ssid().has_value()) +
           static_cast<double>(iface.wlanChannel().has_value()) +
           static_cast<double>(iface.bssid().has_value()) + iface.transmitRate() +
           static_cast<double>(iface.rssiValue()) + static_cast<double>(iface.noiseMeasurement());
}

// Prints the distributions; returns the medians of the whole-link read and
// of the ten reads.
std::pair<double, double> measureDevice(const char* name, linuxwifi::LinuxWiFiClient& client,
                                        int reads) {
    std::printf("%s\n", name);
    auto device = client.device();
    if (!device) {
        std::printf("  no device\n");
        return {0, 0};
    }
    volatile double sink = 0;
    auto whole = timeRuns(reads, [&] { sink = sink + device->read(linuxwifi::kLinkAll).rssi; });
    printRow("whole link (airport -I)", whole, "us");
    auto ten = timeRuns(reads, [&] { sink = sink + readTheDetails(*client.interface()); });
    printRow("the details view's ten reads", ten, "us");
    printRow("default device look-up (per check)",
             timeRuns(reads, [&] { sink = sink + (client.device() != nullptr); }), "us");
    return {distributionOf(whole).median, distributionOf(ten).median};
}

// The peer: the simulated Wi-Fi, whose every read parses its state file.
std::pair<double, double> measureSim(int reads, const std::string& path) {
    std::printf("sim: the simulated Wi-Fi's state file (the peer)\n");
    auto client = sim::makeSimWiFiClient(path);
    volatile double sink = 0;
    auto whole = timeRuns(reads, [&] {
        auto state = sim::SimWifiFile(path).readState();
        sink = sink + static_cast<double>(state ? state->rssiValue : 0);
    });
    printRow("whole link (airport -I)", whole, "us");
    auto ten = timeRuns(reads, [&] { sink = sink + readTheDetails(*client->interface()); });
    printRow("the details view's ten reads", ten, "us");
    return {distributionOf(whole).median, distributionOf(ten).median};
}

struct MsgFree {
    void operator()(nl_msg* m) const { nlmsg_free(m); }
};

void measureNl80211(int reads) {
    std::printf("kernel: nl80211 parsing of one read's four replies (built with libnl)\n");
    using Msg = std::unique_ptr<nl_msg, MsgFree>;
    const std::uint8_t mac[6] = {0x4c, 0x43, 0x41, 0x04, 0x1c, 0xbc};
    auto start = [](std::uint8_t cmd) {
        Msg m(nlmsg_alloc());
        genlmsg_put(m.get(), 0, 0, 0x1c, 0, 0, cmd, 0);
        nla_put_u32(m.get(), NL80211_ATTR_IFINDEX, 3);
        return m;
    };
    Msg iface = start(NL80211_CMD_NEW_INTERFACE);
    nla_put_string(iface.get(), NL80211_ATTR_IFNAME, "wlan0");
    nla_put_u32(iface.get(), NL80211_ATTR_IFTYPE, 2);
    nla_put_u32(iface.get(), NL80211_ATTR_WIPHY_FREQ, 5180);
    nla_put_u32(iface.get(), NL80211_ATTR_CHANNEL_WIDTH, 3);
    Msg station = start(NL80211_CMD_NEW_STATION);
    nla_put(station.get(), NL80211_ATTR_MAC, 6, mac);
    nlattr* info = nla_nest_start(station.get(), NL80211_ATTR_STA_INFO);
    nla_put_u8(station.get(), NL80211_STA_INFO_SIGNAL, static_cast<std::uint8_t>(-52));
    nlattr* tx = nla_nest_start(station.get(), NL80211_STA_INFO_TX_BITRATE);
    nla_put_u32(station.get(), NL80211_RATE_INFO_BITRATE32, 8667);
    nla_put_u8(station.get(), NL80211_RATE_INFO_VHT_MCS, 9);
    nla_nest_end(station.get(), tx);
    nla_nest_end(station.get(), info);
    // A typical probe response: SSID, rates, RSN, HT/VHT capabilities, vendor.
    std::vector<std::uint8_t> ies = {0, 16};
    for (char c : std::string("Flowers By Irene")) ies.push_back(static_cast<std::uint8_t>(c));
    for (std::uint8_t b : {1, 8, 0x8c, 0x12, 0x98, 0x24, 0xb0, 0x48, 0x60, 0x6c}) ies.push_back(b);
    for (std::uint8_t b : {48,   20,   1, 0, 0, 0x0f, 0xac, 4,    1, 0,    0,
                           0x0f, 0xac, 4, 1, 0, 0,    0x0f, 0xac, 2, 0x0c, 0}) {
        ies.push_back(b);
    }
    ies.push_back(45);
    ies.push_back(26);
    ies.insert(ies.end(), 26, 0xef);
    ies.push_back(191);
    ies.push_back(12);
    ies.insert(ies.end(), 12, 0x33);
    for (std::uint8_t b :
         {221, 24,   0x00, 0x50, 0xf2, 2,    1,    1,    0x80, 0,    3,    0xa4, 0,
          0,   0x27, 0xa4, 0,    0,    0x42, 0x43, 0x5e, 0,    0x62, 0x32, 0x2f, 0}) {
        ies.push_back(b);
    }
    Msg bss = start(NL80211_CMD_NEW_SCAN_RESULTS);
    nlattr* b = nla_nest_start(bss.get(), NL80211_ATTR_BSS);
    nla_put(bss.get(), NL80211_BSS_BSSID, 6, mac);
    nla_put_u32(bss.get(), NL80211_BSS_FREQUENCY, 5180);
    nla_put_u16(bss.get(), NL80211_BSS_CAPABILITY, 0x0011);
    nla_put(bss.get(), NL80211_BSS_INFORMATION_ELEMENTS, static_cast<int>(ies.size()), ies.data());
    nla_put_u32(bss.get(), NL80211_BSS_STATUS, NL80211_BSS_STATUS_ASSOCIATED);
    nla_nest_end(bss.get(), b);
    Msg survey = start(NL80211_CMD_NEW_SURVEY_RESULTS);
    nlattr* s = nla_nest_start(survey.get(), NL80211_ATTR_SURVEY_INFO);
    nla_put_u32(survey.get(), NL80211_SURVEY_INFO_FREQUENCY, 5180);
    nla_put_u8(survey.get(), NL80211_SURVEY_INFO_NOISE, static_cast<std::uint8_t>(-92));
    nla_put_flag(survey.get(), NL80211_SURVEY_INFO_IN_USE);
    nla_nest_end(survey.get(), s);

    volatile double sink = 0;
    // Batches of 100: one parse is below the clock's useful resolution.
    auto batches = timeRuns(reads, [&] {
        for (int i = 0; i < 100; ++i) {
            linuxwifi::Nl80211Snapshot snap;
            snap.interface = linuxwifi::parseInterfaceMessage(nlmsg_hdr(iface.get()));
            snap.station = linuxwifi::parseStationMessage(nlmsg_hdr(station.get()));
            snap.bss = linuxwifi::parseBssMessage(nlmsg_hdr(bss.get()));
            snap.survey = linuxwifi::parseSurveyMessage(nlmsg_hdr(survey.get()));
            sink = sink + static_cast<double>(linuxwifi::linkFromNl80211(snap).security);
        }
    });
    for (double& v : batches) v = v * 1000.0 / 100.0;  // ns per read
    printRow("parse 4 replies into a link", batches, "ns");
}

bool runReads(int reads, std::string& error) {
    PrivateBus bus;
    if (!bus.available()) {
        error = bus.whyUnavailable();
        return false;
    }
    TempDir dir;
    linuxwifi::LinuxWiFiOptions options;
    options.systemBusAddress = bus.address();
    options.sysfsRoot = dir.file("empty-sys");
    std::printf(
        "One Wi-Fi read through each backend (%d runs each; this machine has no "
        "nl80211, so the D-Bus figures hold no kernel round trips)\n",
        reads);
    std::string simPath = dir.file("wifi.plist");
    writeFile(simPath, plist::toXml(simWifi(true, true)));
    auto simMedians = measureSim(reads, simPath);
    std::pair<double, double> nmMedians, iwdMedians;
    {
        NetworkManagerMock nm(bus);
        if (!nm.running()) {
            error = nm.whyNotRunning();
            return false;
        }
        std::string device = nm.addWiFiDevice("wlan0", "wlan0", 100, true, &error);
        NetworkManagerMock::AccessPoint ap;
        ap.name = "home";
        ap.ssid = "Flowers By Irene";
        ap.bssid = "4C:43:41:04:1C:BC";
        ap.bandwidth = 80;
        if (device.empty() || nm.addAccessPoint(device, ap, true, &error).empty()) return false;
        auto client = linuxwifi::makeLinuxWiFiClient("nm", options, error, false);
        nmMedians = measureDevice("nm: NetworkManager (dbusmock, private bus)", *client, reads);
    }
    {
        DBusMock iwd(
            bus, {std::string(WW_SOURCE_ROOT) + "/tests/support/dbusmock/iwd.py", "net.connman.iwd",
                  R"({"devices": [{"name": "wlan0", "state": "connected",
                "network": {"name": "Lab", "type": "psk"},
                "diagnostics": {"ConnectedBss": "4c:43:41:04:1c:bc", "Frequency": 5180,
                "RSSI": -52, "TxMode": "802.11ac", "TxBitrate": 8667, "TxMCS": 9,
                "Security": "WPA2-Personal"}}]})"});
        if (!iwd.running()) {
            error = iwd.whyNotRunning();
            return false;
        }
        auto client = linuxwifi::makeLinuxWiFiClient("iwd", options, error, false);
        iwdMedians = measureDevice("iwd (dbusmock tree, private bus)", *client, reads);
    }
    measureNl80211(reads);
    std::printf(
        "median ratios against the simulated Wi-Fi: whole link nm %.2f, iwd %.2f; ten "
        "reads nm %.2f, iwd %.2f\n",
        nmMedians.first / simMedians.first, iwdMedians.first / simMedians.first,
        nmMedians.second / simMedians.second, iwdMedians.second / simMedians.second);
    return true;
}

// The mock's own stamp of a log line ("1700000000.123 Disconnect").
std::optional<SystemTime> mockTime(const std::string& line) {
    double seconds = std::strtod(line.c_str(), nullptr);
    if (seconds <= 0) return std::nullopt;
    return SystemTime(
        std::chrono::duration_cast<SystemTime::duration>(std::chrono::duration<double>(seconds)));
}

// The peer: the same change with the simulated Wi-Fi mirrored onto the Wi-Fi
// veth end, until the sim records "disassociate". Each trial re-joins as the
// agent does (wired gone, nothing connected, Wi-Fi switched on).
bool runSimReaction(int trials, std::vector<double>& total, std::string& error) {
    AgentInNamespace agent("wwbenchsim");
    AgentInNamespace::Settings settings;
    settings.rule = "0";
    if (!agent.prepare(settings, error) || !agent.start(error)) return false;
    auto count = [](const std::vector<std::string>& ops, std::size_t from, const char* op) {
        return std::count(ops.begin() + static_cast<long>(std::min(from, ops.size())), ops.end(),
                          std::string(op));
    };
    for (int i = 0; i < trials; ++i) {
        std::size_t before = agent.operations().size();
        FolderWatch watch(agent.simPath().substr(0, agent.simPath().rfind('/')));
        SystemTime changedAt;
        std::chrono::steady_clock::time_point changed;
        if (!agent.setWiredAddress(true, &changedAt, &changed)) {
            error = "cannot add the wired address";
            return false;
        }
        if (!watch.waitFor([&] { return count(agent.operations(), before, "disassociate") > 0; },
                           after(10s))) {
            error = "the simulated Wi-Fi saw no disassociate in trial " + std::to_string(i + 1);
            return false;
        }
        total.push_back(Millis(std::chrono::steady_clock::now() - changed).count());
        if (!agent.waitUntilIdle(50ms, after(10s))) {
            error = "the agent never became idle";
            return false;
        }
        std::size_t afterReaction = agent.operations().size();
        if (!agent.setWiredAddress(false) ||
            !agent.waitForSim(
                [&](const sim::SimWifiState& s, const std::vector<std::string>& ops) {
                    return s.ssid.has_value() && count(ops, afterReaction, "setPower:1") > 0;
                },
                after(10s)) ||
            !agent.waitUntilIdle(300ms, after(10s))) {
            error = "Wi-Fi did not re-join after trial " + std::to_string(i + 1);
            return false;
        }
    }
    return agent.stop() == 0;
}

bool runReaction(int trials, std::string& error) {
    ::setenv("WW_BUILD_DIR", WW_BUILD_TREE, 0);
    AgentInNamespace agent("wwbenchnm");
    if (!agent.available()) {
        error = "needs a network namespace: " + agent.whyUnavailable();
        return false;
    }
    PrivateBus bus;
    if (!bus.available()) {
        error = bus.whyUnavailable();
        return false;
    }
    NetworkManagerMock nm(bus);
    if (!nm.running()) {
        error = nm.whyNotRunning();
        return false;
    }
    std::string device = nm.addWiFiDevice("wifi0", kWifiDevice, 100, true, &error);
    NetworkManagerMock::AccessPoint ap;
    ap.name = "home";
    ap.ssid = kWifiSsid;
    ap.bssid = "4C:43:41:04:1C:BC";
    std::string apPath = device.empty() ? "" : nm.addAccessPoint(device, ap, true, &error);
    if (apPath.empty()) return false;

    AgentInNamespace::Settings settings;
    settings.rule = "0";
    settings.simulatedWifi = false;
    settings.environment = bus.environment();
    if (!agent.prepare(settings, error) || !agent.start(error)) return false;

    std::vector<double> total, toRule, ruleToMock;
    for (int i = 0; i < trials; ++i) {
        std::size_t before = nm.mock().logLines(" Disconnect").size();
        FolderWatch watch(bus.folder().path());
        SystemTime changed;
        if (!agent.setWiredAddress(true, &changed)) {
            error = "cannot add the wired address";
            return false;
        }
        if (!watch.waitFor([&] { return nm.mock().logLines(" Disconnect").size() > before; },
                           after(10s))) {
            error = "no Disconnect within 10 s in trial " + std::to_string(i + 1) +
                    "; the agent's standard error:\n" + agent.agentStderr();
            return false;
        }
        auto seen = mockTime(nm.mock().logLines(" Disconnect")[before]);
        auto rule = agent.firstLine(kDisconnectLine, changed - 1ms);
        if (seen) total.push_back(Millis(*seen - changed).count());
        if (seen && rule) {
            toRule.push_back(Millis(*rule - changed).count());
            ruleToMock.push_back(Millis(*seen - *rule).count());
        }
        // Back to the start: wired gone, the device joined again.
        if (!agent.waitUntilIdle(50ms, after(10s)) || !agent.setWiredAddress(false) ||
            !agent.waitUntilIdle(300ms, after(10s))) {
            error = "the agent never became idle after trial " + std::to_string(i + 1);
            return false;
        }
        std::string why;
        if (!nm.set(device, NetworkManagerMock::kDevice, "State", "u", 100u, &why) ||
            !nm.set(device, NetworkManagerMock::kWireless, "ActiveAccessPoint", "o", apPath.c_str(),
                    &why)) {
            error = "cannot join the mock's device again: " + why;
            return false;
        }
    }
    int status = agent.stop();
    std::printf(
        "Reaction with NetworkManager (namespace, no --wifi, rule 0): wired address "
        "added -> Device.Disconnect() received by the mock, %d trials\n",
        trials);
    printRow("total", total, "ms");
    printRow("change -> the check's rule line", toRule, "ms");
    printRow("rule line -> Disconnect at the mock", ruleToMock, "ms");
    if (status != 0) {
        error = "the agent exited with status " + std::to_string(status);
        return false;
    }
    std::vector<double> peer;
    if (!runSimReaction(trials, peer, error)) return false;
    std::printf("The peer, the simulated Wi-Fi (--wifi sim:FILE), same change, %d trials\n",
                trials);
    printRow("total", peer, "ms");
    std::printf("ratios, NetworkManager / simulated Wi-Fi: median %.2f, p95 %.2f\n",
                distributionOf(total).median / distributionOf(peer).median,
                distributionOf(total).p95 / distributionOf(peer).p95);
    return true;
}

}  // namespace
}  // namespace ww::test

int main(int argc, char** argv) {
    using namespace ww::test;
    int trials = 30;
    int reads = 500;
    std::string mode = "both";
    const char* usage = "usage: bench_wifi [--mode reads|reaction|both] [--trials N] [--reads N]\n";
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--trials" && i + 1 < argc) {
            trials = std::atoi(argv[++i]);
        } else if (a == "--reads" && i + 1 < argc) {
            reads = std::atoi(argv[++i]);
        } else if (a == "--mode" && i + 1 < argc) {
            mode = argv[++i];
        } else {
            std::fputs(usage, stderr);
            return 2;
        }
    }
    if (trials < 1 || reads < 1 || (mode != "reads" && mode != "reaction" && mode != "both")) {
        std::fputs(usage, stderr);
        return 2;
    }
    std::string error;
    if (mode != "reaction" && !runReads(reads, error)) {
        std::fprintf(stderr, "bench_wifi: reads: %s\n", error.c_str());
        return 1;
    }
    if (mode != "reads" && !runReaction(trials, error)) {
        std::fprintf(stderr, "bench_wifi: reaction: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
