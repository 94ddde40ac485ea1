// Device changes over rtnetlink, and the simulated Wi-Fi mirrored onto a veth
// device, in a private network namespace (root; skipped elsewhere). `ip`
// tells what the kernel really holds.

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include "platform/linux/netlink/LinkControl.h"
#include "platform/sim/SimWifiInterface.h"
#include "tests/support/e2e_AgentInNamespace.h"

namespace ww::test {
namespace {

using netlink::Ipv4Prefix;
using netlink::LinkControl;
using plist::Value;

TEST(Ipv4PrefixTest, ParsesAddressesWithPrefixLengths) {
    // The text, its canonical form and its broadcast address.
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"198.51.100.2/24", "198.51.100.2/24", "198.51.100.255"},
        {"203.0.113.130/25", "203.0.113.130/25", "203.0.113.255"},
        {"10.1.2.3", "10.1.2.3/32", "10.1.2.3"},
        {"10.1.2.3/31", "10.1.2.3/31", "10.1.2.3"},
        {"0.0.0.0/0", "0.0.0.0/0", "255.255.255.255"},
    };
    for (const auto& [text, canonical, broadcast] : cases) {
        auto p = Ipv4Prefix::parse(text);
        ASSERT_TRUE(p.has_value()) << text;
        EXPECT_EQ(p->text(), canonical);
        EXPECT_EQ((Ipv4Prefix{p->broadcast(), 32}).text(), std::string(broadcast) + "/32");
    }
    for (const char* bad :
         {"198.51.100.2/33", "198.51.100.2/", "198.51.100.2/-1", "198.51.100.2/024",
          "198.51.100.2/08", "198.51.100.2/+8", "198.51.100.2/24 ", " 198.51.100.2/24",
          "198.51.100/24", "198.51.100.256/24", "2001:db8::1/64", "/24", "", "wifi"}) {
        EXPECT_FALSE(Ipv4Prefix::parse(bad).has_value()) << bad;
    }
}

class LinkNamespaceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!ns.available()) {
            GTEST_SKIP() << "device tests need a network namespace: " << ns.whyUnavailable();
        }
        ASSERT_TRUE(ns.addVethPair(kWifiDevice, kWifiPeer));
    }

    // Runs `work` on a thread inside the namespace.
    template <typename Work>
    auto inside(Work&& work) {
        bool entered = false;
        auto result = ns.inside(std::forward<Work>(work), entered);
        EXPECT_TRUE(entered);
        return result;
    }

    Netns ns{"wwsim"};
};

TEST_F(LinkNamespaceTest, AddressesFollowTheRequestsAndBadDevicesAreErrors) {
    inside([&] {
        std::string e;
        auto c = LinkControl::open(e);
        EXPECT_TRUE(c) << e;
        if (!c) return false;
        auto ok = [&](bool done) { EXPECT_TRUE(done) << e; };
        // Two addresses of one subnet (the second is a secondary) and one of
        // another; adding one twice keeps one.
        for (const char* a :
             {"203.0.113.2/24", "203.0.113.3/24", "198.51.100.7/25", "203.0.113.2/24"}) {
            ok(c->addIpv4Address(kWifiDevice, *Ipv4Prefix::parse(a), e));
        }
        // The kernel keeps primary addresses before secondary ones.
        const std::vector<std::string> held = {"203.0.113.2/24", "198.51.100.7/25",
                                               "203.0.113.3/24"};
        EXPECT_EQ(ns.ipv4Addresses(kWifiDevice), held);
        std::vector<std::string> listed;
        for (const auto& p : c->ipv4Addresses(kWifiDevice, e).value_or(std::vector<Ipv4Prefix>{})) {
            listed.push_back(p.text());
        }
        EXPECT_EQ(listed, held) << e;
        EXPECT_TRUE(ns.ipv4Addresses(kWifiPeer).empty());  // the peer's addresses are its own
        EXPECT_NE(shellOutput("ip -n " + ns.name() + " -o -4 address show dev " + kWifiDevice)
                      .find("brd 203.0.113.255"),
                  std::string::npos);

        ok(c->removeIpv4Addresses(kWifiDevice, e));
        EXPECT_TRUE(ns.ipv4Addresses(kWifiDevice).empty());

        // Unknown devices and bad names are errors of every request.
        for (const auto& [device, error] : std::vector<std::pair<std::string, std::string>>{
                 {"ww-absent9", "ww-absent9: No such device"},
                 {"", "'' is no network device name"},
                 {"a-name-far-too-long", "'a-name-far-too-long' is no network device name"}}) {
            std::vector<std::string> errors;
            auto record = [&](bool done) { errors.push_back(done ? "ok" : e); };
            record(c->setUp(device, true, e));
            record(c->isUp(device, e).has_value());
            record(c->ipv4Addresses(device, e).has_value());
            record(c->addIpv4Address(device, *Ipv4Prefix::parse("198.51.100.9/24"), e));
            record(c->removeIpv4Addresses(device, e));
            EXPECT_EQ(errors, std::vector<std::string>(5, error)) << device;
        }
        return true;
    });
}

// Requests that change nothing must not make the kernel announce anything:
// the agent watches these announcements and would start a check for each.
TEST_F(LinkNamespaceTest, ChangesAlreadyInPlaceAnnounceNothing) {
    ASSERT_EQ(ns.ip(std::string("address add 203.0.113.2/24 dev ") + kWifiDevice), 0);
    ASSERT_EQ(ns.ip(std::string("link set dev ") + kWifiPeer + " down"), 0);
    std::string error;
    netlink::UniqueFd watch = inside([&] {
        netlink::UniqueFd fd = netlink::openRouteSocket(false, error);
        for (unsigned group : {RTNLGRP_LINK, RTNLGRP_IPV4_IFADDR}) {
            if (fd && ::setsockopt(fd.get(), SOL_NETLINK, NETLINK_ADD_MEMBERSHIP, &group,
                                   sizeof(group)) != 0) {
                fd.reset();
            }
        }
        return fd;
    });
    ASSERT_TRUE(watch) << error;
    timeval timeout{10, 0};
    ASSERT_EQ(::setsockopt(watch.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout)), 0);

    bool done = inside([&] {
        std::string e;
        auto c = LinkControl::open(e);
        return c && c->setUp(kWifiDevice, true, e) && c->setUp(kWifiPeer, false, e) &&
               c->addIpv4Address(kWifiDevice, *Ipv4Prefix::parse("203.0.113.2/24"), e) &&
               c->removeIpv4Addresses(kWifiPeer, e) &&
               // The marker: a real change, which must be the first announcement.
               c->addIpv4Address(kWifiPeer, *Ipv4Prefix::parse("198.51.100.9/24"), e);
    });
    ASSERT_TRUE(done);

    alignas(nlmsghdr) char buffer[16384];
    ssize_t n = ::recv(watch.get(), buffer, sizeof buffer, 0);
    ASSERT_GT(n, 0) << "no announcement at all";
    std::vector<int> types;
    netlink::forEachMessage(buffer, static_cast<std::size_t>(n),
                            [&](const nlmsghdr& m) { types.push_back(m.nlmsg_type); });
    ASSERT_FALSE(types.empty());
    EXPECT_EQ(types.front(), RTM_NEWADDR);
}

// ---- the simulated Wi-Fi on a device ----

class SimDeviceTest : public LinkNamespaceTest {
  protected:
    void SetUp() override {
        LinkNamespaceTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        for (const char* a : {"203.0.113.2/24", "203.0.113.3/24", "192.0.2.10/28"}) {
            ASSERT_EQ(ns.ip("address add " + std::string(a) + " dev " + kWifiDevice), 0);
        }
        Value d = simWifi(true, true);
        d.set("device", Value::string(kWifiDevice));
        Value join = Value::dictionary();
        join.set("ssid", Value::string("Lab"));
        join.set("bssid", Value::string("02:00:00:00:00:01"));
        join.set("addresses", Value::array({Value::string("198.51.100.2/24"),
                                            Value::string("203.0.113.70/26")}));
        d.set("joinNetwork", join);
        writeFile(path, plist::toXml(d));
    }

    sim::SimWifiState state() { return *sim::SimWifiFile(path).readState(); }

    // "ok" or the error text of `request`, made on a thread inside the namespace,
    // without CAP_NET_ADMIN when `unprivileged` (as when the agent is not root).
    using Request = std::function<bool(sim::SimWifiInterface&, std::optional<std::string>*)>;
    std::string run(const Request& request, bool unprivileged) {
        return inside([&] {
            // Capabilities belong to the thread: only this helper thread loses it.
            __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
            __user_cap_data_struct data[2] = {};
            if (unprivileged) {
                if (::syscall(SYS_capget, &header, data) != 0) return std::string("capget failed");
                data[CAP_NET_ADMIN / 32].effective &= ~(1u << (CAP_NET_ADMIN % 32));
                if (::syscall(SYS_capset, &header, data) != 0) return std::string("capset failed");
            }
            std::optional<std::string> error;
            sim::SimWifiInterface wifi(path);
            bool ok = request(wifi, &error);
            if (ok && error) return "success with an error: " + *error;
            return ok ? std::string("ok") : error.value_or("failure without an error");
        });
    }
    std::string setPower(bool on, bool unprivileged = false) {
        return run([on](auto& wifi, auto* error) { return wifi.setPower(on, error); },
                   unprivileged);
    }
    std::string disassociate(bool unprivileged = false) {
        return run([](auto& wifi, auto* error) { return wifi.disassociate(error); }, unprivileged);
    }

    TempDir dir;
    std::string path = dir.file("wifi.plist");
};

// The agent's own cycles (disconnect and back, off and on) are the end-to-end
// tests'; here: a join network of several addresses, only the mirrored end
// changes, and nothing joins twice.
TEST_F(SimDeviceTest, DisassociateAndPowerFollowTheDeviceAndRejoin) {
    const std::vector<std::string> joined = {"198.51.100.2/24", "203.0.113.70/26"};
    ASSERT_EQ(disassociate(), "ok");
    EXPECT_TRUE(ns.isUp(kWifiDevice));
    EXPECT_TRUE(ns.ipv4Addresses(kWifiDevice).empty());
    EXPECT_FALSE(state().ssid);
    // Powered but not associated: power on re-joins.
    ASSERT_EQ(setPower(true), "ok");
    EXPECT_EQ(ns.ipv4Addresses(kWifiDevice), joined);
    EXPECT_EQ(state().bssid, std::optional<std::string>("02:00:00:00:00:01"));
    ASSERT_EQ(setPower(false), "ok");
    EXPECT_FALSE(ns.isUp(kWifiDevice));
    EXPECT_TRUE(ns.isUp(kWifiPeer));
    ASSERT_EQ(setPower(true), "ok");
    ASSERT_EQ(setPower(true), "ok");
    EXPECT_EQ(ns.ipv4Addresses(kWifiDevice), joined);
    EXPECT_EQ(simOperations(path),
              (std::vector<std::string>{"disassociate", "setPower:1", "setPower:0", "setPower:1",
                                        "setPower:1"}));
}

TEST_F(SimDeviceTest, ABadJoinAddressFailsBeforeAnythingChanges) {
    ASSERT_EQ(setPower(false), "ok");
    Value d = *sim::SimWifiFile(path).read();
    Value join = *d.find("joinNetwork");
    join.set("addresses",
             Value::array({Value::string("198.51.100.2/24"), Value::string("fe80::1/64")}));
    d.set("joinNetwork", join);
    writeFile(path, plist::toXml(d));

    EXPECT_EQ(setPower(true), "joinNetwork: 'fe80::1/64' is no IPv4 address with a prefix length");
    EXPECT_FALSE(ns.isUp(kWifiDevice));
    EXPECT_TRUE(ns.ipv4Addresses(kWifiDevice).empty());
    EXPECT_FALSE(state().power);
    EXPECT_EQ(simOperations(path), std::vector<std::string>{"setPower:0"});
}

// Without CAP_NET_ADMIN (as when the agent does not run as root) the kernel
// refuses every change. A refused link change changes nothing; a refused
// join address still lets the power change stand (the link was up already)
// but is reported, and the radio has not joined.
TEST_F(SimDeviceTest, ChangesTheKernelRefusesAreReported) {
    const std::string refused = std::string(kWifiDevice) + ": Operation not permitted";
    EXPECT_EQ(setPower(false, true), refused);
    EXPECT_TRUE(ns.isUp(kWifiDevice));
    EXPECT_EQ(ns.ipv4Addresses(kWifiDevice).size(), 3u);
    EXPECT_TRUE(state().power);
    EXPECT_TRUE(simOperations(path).empty());
    {
        ScopedCapture capture;
        EXPECT_EQ(disassociate(true), refused) << "the radio left, the device kept its addresses";
        EXPECT_EQ(capture.logger->texts(),
                  std::vector<std::string>{
                      "Simulated Wi-Fi: cannot remove the device's addresses: " + refused});
    }
    EXPECT_EQ(ns.ipv4Addresses(kWifiDevice).size(), 3u);
    EXPECT_FALSE(state().ssid);

    // Powered, up, not associated: switching on re-joins, and the kernel
    // refuses the address.
    ASSERT_EQ(disassociate(), "ok");
    ASSERT_TRUE(ns.ipv4Addresses(kWifiDevice).empty());
    EXPECT_EQ(setPower(true, true), refused);
    EXPECT_TRUE(ns.isUp(kWifiDevice));
    EXPECT_TRUE(ns.ipv4Addresses(kWifiDevice).empty());
    EXPECT_TRUE(state().power);
    EXPECT_FALSE(state().ssid);
    EXPECT_EQ(simOperations(path),
              (std::vector<std::string>{"disassociate", "disassociate", "setPower:1"}));
}

}  // namespace
}  // namespace ww::test
