// The pure parts of the Linux service: which netlink messages count as a
// change, what a route answer means, what the resolver printed.

#include <gtest/gtest.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/wait.h>
// clang-format off
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/if_link.h>
// clang-format on

#include <cstring>
#include <vector>

#include "platform/linux/netlink/HostResolver.h"
#include "platform/linux/netlink/RouteNetlink.h"

namespace ww::netlink {
namespace {

constexpr ReachabilityFlags R = kReachabilityFlagsReachable;
constexpr ReachabilityFlags d = kReachabilityFlagsIsDirect;

// Builds netlink messages the way the kernel lays them out.
class Message {
  public:
    template <typename Header>
    Message(unsigned short type, const Header& header) {
        m_bytes.resize(NLMSG_SPACE(sizeof(Header)));
        hdr()->nlmsg_type = type;
        hdr()->nlmsg_len = NLMSG_LENGTH(sizeof(Header));
        std::memcpy(NLMSG_DATA(hdr()), &header, sizeof(Header));
    }
    Message& attribute(unsigned short type, const void* data, std::size_t length) {
        std::size_t offset = NLMSG_ALIGN(hdr()->nlmsg_len);
        m_bytes.resize(offset + RTA_SPACE(length));
        auto* a = reinterpret_cast<rtattr*>(m_bytes.data() + offset);
        a->rta_type = type;
        a->rta_len = static_cast<unsigned short>(RTA_LENGTH(length));
        std::memcpy(RTA_DATA(a), data, length);
        hdr()->nlmsg_len = static_cast<std::uint32_t>(offset + RTA_SPACE(length));
        return *this;
    }
    Message& u32(unsigned short type, std::uint32_t value) {
        return attribute(type, &value, sizeof(value));
    }
    const nlmsghdr& header() const { return *reinterpret_cast<const nlmsghdr*>(m_bytes.data()); }
    const std::vector<char>& bytes() const { return m_bytes; }

  private:
    nlmsghdr* hdr() { return reinterpret_cast<nlmsghdr*>(m_bytes.data()); }
    std::vector<char> m_bytes;
};

rtmsg route(unsigned char type, unsigned char table = RT_TABLE_MAIN, unsigned flags = 0) {
    rtmsg r{};
    r.rtm_family = AF_INET;
    r.rtm_table = table;
    r.rtm_type = type;
    r.rtm_flags = flags;
    return r;
}

bool countsAsChange(const Message& m) {
    ChangeSummary s;
    classifyChange(m.header(), s);
    EXPECT_FALSE(s.overrun);
    return s.changed;
}

TEST(NetlinkChangesTest, WhatCountsAsAChange) {
    ifinfomsg link{};
    link.ifi_index = 3;
    char wirelessEvent[8] = {};
    // Addresses and main-table routes coming and going are changes the
    // service test makes with the real kernel.
    const std::vector<std::tuple<const char*, Message, bool>> cases = {
        {"new link", Message(RTM_NEWLINK, link).u32(IFLA_MTU, 1500), true},
        {"link gone", Message(RTM_DELLINK, link), true},
        // Policy-routing tables (VPNs keep their default route there) count too.
        {"route in a numbered table",
         Message(RTM_NEWROUTE, route(RTN_UNICAST, RT_TABLE_UNSPEC)).u32(RTA_TABLE, 51820), true},
        // Wireless-extension events (scan results) arrive dressed as link messages.
        {"wireless event",
         Message(RTM_NEWLINK, link).attribute(IFLA_WIRELESS, wirelessEvent, sizeof(wirelessEvent)),
         false},
        {"local route", Message(RTM_NEWROUTE, route(RTN_LOCAL, RT_TABLE_LOCAL)), false},
        {"broadcast route gone", Message(RTM_DELROUTE, route(RTN_BROADCAST, RT_TABLE_LOCAL)),
         false},
        // A table number past 255 travels in RTA_TABLE, which wins over rtm_table.
        {"local table in RTA_TABLE",
         Message(RTM_NEWROUTE, route(RTN_LOCAL, RT_TABLE_MAIN)).u32(RTA_TABLE, RT_TABLE_LOCAL),
         false},
        {"cloned route", Message(RTM_NEWROUTE, route(RTN_UNICAST, RT_TABLE_MAIN, RTM_F_CLONED)),
         false},
        {"done", Message(NLMSG_DONE, 0), false},
        {"neighbour", Message(RTM_NEWNEIGH, link), false},
        {"route shorter than rtmsg", Message(RTM_NEWROUTE, std::uint16_t{0}), false},
        {"link shorter than ifinfomsg", Message(RTM_NEWLINK, std::uint16_t{0}), false},
    };
    for (const auto& [what, message, changed] : cases) {
        EXPECT_EQ(countsAsChange(message), changed) << what;
    }
}

TEST(NetlinkChangesTest, TruncatedMessagesAreIgnoredAndOverrunIsReported) {
    ChangeSummary s;
    classifyChange(Message(NLMSG_OVERRUN, 0).header(), s);
    EXPECT_TRUE(s.overrun);

    // A datagram of several messages, the last one cut short.
    std::vector<char> datagram;
    auto add = [&](const Message& m) {
        datagram.insert(datagram.end(), m.bytes().begin(), m.bytes().end());
    };
    add(Message(RTM_NEWROUTE, route(RTN_LOCAL, RT_TABLE_LOCAL)));
    add(Message(RTM_NEWADDR, ifaddrmsg{}));
    ChangeSummary both = classifyChanges(datagram.data(), datagram.size());
    EXPECT_TRUE(both.changed);
    ChangeSummary cut = classifyChanges(datagram.data(), datagram.size() - 4);
    EXPECT_FALSE(cut.changed);  // only the local route is whole
    EXPECT_FALSE(classifyChanges(datagram.data(), 3).changed);
}

TEST(NetlinkRouteFlagsTest, RouteAnswersGiveFlags) {
    struct Case {
        const char* what;
        Message message;
        ReachabilityFlags flags;
    };
    std::vector<char> multipath(RTNH_SPACE(RTA_SPACE(sizeof(in_addr))));
    {
        auto* hop = reinterpret_cast<rtnexthop*>(multipath.data());
        hop->rtnh_len = static_cast<unsigned short>(multipath.size());
        auto* a = RTNH_DATA(hop);
        a->rta_type = RTA_GATEWAY;
        a->rta_len = RTA_LENGTH(sizeof(in_addr));
    }
    std::vector<char> multipathDirect(RTNH_SPACE(0));
    reinterpret_cast<rtnexthop*>(multipathDirect.data())->rtnh_len =
        static_cast<unsigned short>(multipathDirect.size());

    // Connected, gateway, local, unreachable, blackhole, prohibit and carrier-
    // less routes are answered by the real kernel in the service test.
    const Case cases[] = {
        {"broadcast", Message(RTM_NEWROUTE, route(RTN_BROADCAST)), R | d},
        {"multipath with a gateway",
         Message(RTM_NEWROUTE, route(RTN_UNICAST))
             .attribute(RTA_MULTIPATH, multipath.data(), multipath.size()),
         R},
        {"multipath on links",
         Message(RTM_NEWROUTE, route(RTN_UNICAST))
             .attribute(RTA_MULTIPATH, multipathDirect.data(), multipathDirect.size()),
         R | d},
        {"throw", Message(RTM_NEWROUTE, route(RTN_THROW)), 0},
        {"not a route", Message(RTM_NEWADDR, ifaddrmsg{}), 0},
        {"truncated", Message(RTM_NEWROUTE, std::uint16_t{0}), 0},
    };
    for (const auto& k : cases) {
        EXPECT_EQ(flagsForRoute(k.message.header()), k.flags) << k.what;
    }
}

std::vector<std::string> texts(const AddressList& list) {
    std::vector<std::string> out;
    for (const auto& a : list) {
        char host[NI_MAXHOST] = {};
        getnameinfo(reinterpret_cast<const sockaddr*>(&a), sizeof a, host, sizeof host, nullptr, 0,
                    NI_NUMERICHOST);
        out.push_back(host);
    }
    return out;
}

TEST(ResolverOutputTest, AddressesOnceEachInOrder) {
    // What `getent ahosts` prints: three socket types per address.
    const char* getent =
        "2001:db8::7     STREAM www.example.com\n"
        "2001:db8::7     DGRAM  \n"
        "2001:db8::7     RAW    \n"
        "203.0.113.7     STREAM \n"
        "203.0.113.7     DGRAM  \n"
        "203.0.113.7     RAW    \n";
    EXPECT_EQ(texts(parseResolverOutput(getent)),
              (std::vector<std::string>{"2001:db8::7", "203.0.113.7"}));

    // Junk, blanks, CRLF, leading blanks, no final newline, half an address.
    EXPECT_EQ(texts(parseResolverOutput("getent: oops\n\n  198.51.100.9\tSTREAM\r\n"
                                        "203.0.113.\n999.1.1.1 x\n::ffff:203.0.113.1")),
              (std::vector<std::string>{"198.51.100.9", "::ffff:203.0.113.1"}));
    EXPECT_TRUE(parseResolverOutput("").empty());
    EXPECT_TRUE(parseResolverOutput(std::string(100000, 'x')).empty());

    std::string many;
    for (int k = 1; k <= 40; ++k) many += "203.0.113." + std::to_string(k) + " STREAM\n";
    auto limited = parseResolverOutput(many);
    ASSERT_EQ(limited.size(), kMaxResolvedAddresses);
    EXPECT_EQ(texts(limited).back(), "203.0.113.16");
}

TEST(ResolverOutputTest, NamesThatReachTheResolver) {
    // Refused: what would read as an option, blanks, shell syntax, a slash, a
    // NUL, cut-off UTF-8 and names past 253 bytes.
    const std::string accepted[] = {"www.example.com", "localhost",      "under_score.example",
                                    "trailing.dot.",   "bücher.example", std::string(253, 'a')};
    const std::string refused[] = {"",
                                   "-n",
                                   "--help",
                                   "a b",
                                   "a\tb",
                                   "a;rm -rf",
                                   "a/b",
                                   "$(reboot)",
                                   "bad\xC3",
                                   std::string("a\0b", 3),
                                   std::string(254, 'a')};
    for (const auto& name : accepted) EXPECT_TRUE(isResolvableName(name)) << name;
    for (const auto& name : refused) EXPECT_FALSE(isResolvableName(name)) << name;
}

TEST(ResolverProcessTest, RunsTheCommandWithTheNameAndReadsItsAddresses) {
    // The name arrives as one argument, never through a shell.
    std::vector<std::string> echoName = {"/bin/sh", "-c",
                                         "printf '%s STREAM\\n' 203.0.113.5 \"$1\"", "resolver"};
    auto found =
        ResolverProcess::resolveNow(echoName, "198.51.100.77", std::chrono::milliseconds(10000));
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(texts(*found), (std::vector<std::string>{"203.0.113.5", "198.51.100.77"}));

    std::vector<std::string> fails = {"/bin/sh", "-c", "echo 'no such host' >&2; exit 2", "r"};
    EXPECT_FALSE(ResolverProcess::resolveNow(fails, "x", std::chrono::milliseconds(10000)));

    std::vector<std::string> missing = {"/nonexistent/resolver"};
    EXPECT_FALSE(ResolverProcess::resolveNow(missing, "x", std::chrono::milliseconds(10000)));
}

TEST(ResolverProcessTest, AResolverThatHangsIsKilledAtItsTimeLimit) {
    std::vector<std::string> hangs = {"/bin/sh", "-c", "echo 203.0.113.5; exec sleep 600", "r"};
    EXPECT_FALSE(ResolverProcess::resolveNow(hangs, "x", std::chrono::milliseconds(200)));
    // Killed and reaped: this process has no child left.
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

}  // namespace
}  // namespace ww::netlink
