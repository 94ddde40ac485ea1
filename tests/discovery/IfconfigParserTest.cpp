#include <gtest/gtest.h>

#include "DiscoveryTestSupport.h"
#include "discovery/IfconfigParser.h"

namespace ww {
namespace {

// Each record as "name=address|hardware address|status".
std::vector<std::string> summarize(const InterfaceTable& table) {
    std::vector<std::string> out;
    for (const auto& [name, info] : table) {
        out.push_back(name + "=" + info->IPAdress.get().value_or("<absent>") + "|" +
                      info->MacAdress.get().value_or("<absent>") + "|" +
                      info->status.get().value_or("<absent>"));
    }
    return out;
}

TEST(IfconfigParser, Grammar) {
    const std::string lo =
        "lo0: flags=8049<UP,LOOPBACK,RUNNING,MULTICAST> mtu 16384\n\tinet 127.0.0.1 netmask "
        "0xff000000\n";
    const std::string en0 =
        "en0: flags=8863<UP,BROADCAST,SMART,RUNNING,SIMPLEX,MULTICAST> mtu 1500\n"
        "\tether 3c:22:fb:01:02:03 \n\tinet 192.168.1.20 netmask 0xffffff00 broadcast "
        "192.168.1.255\n\tstatus: active\n";
    const std::string en5Inactive =
        "en5: flags=8863<UP,BROADCAST> mtu 1500\n\tether 00:1c:42:00:00:05\n\tstatus: inactive\n";
    const std::string en0Record = "en0=192.168.1.20|3c:22:fb:01:02:03|active";
    const struct {
        const char* name;
        std::string output;
        std::vector<std::string> records;
    } cases[] = {
        {"loopback usable and no inet", lo + en0 + en5Inactive, {en0Record}},
        {"loopback first, middle and last", lo + en0 + lo + en5Inactive + lo, {en0Record}},
        {"loopback is any address beginning with 127",
         "lo1: flags=1<UP>\n\tinet 127.5.6.7 netmask 0xff000000\nx0: flags=1<UP>\n\tinet "
         "1270.0.0.1 x\n",
         {}},
        {"inet6 only", "utun0: flags=8051<UP> mtu 1380\n\tinet6 fe80::1%utun0 prefixlen 64\n", {}},
        {"no ether, no status",
         "utun3: flags=8051<UP>\n\tinet 10.8.0.6 --> 10.8.0.5\n",
         {"utun3=10.8.0.6||"}},
        {"same name twice: the later wins",
         "en0: flags=1<UP>\n\tinet 10.0.0.1 x\nen0: flags=1<UP>\n\tinet 10.0.0.2 x\n",
         {"en0=10.0.0.2||"}},
        {"the second inet line wins",
         "en0: flags=1<UP>\n\tinet 10.0.0.1 a\n\tinet 10.0.0.2 b\n",
         {"en0=10.0.0.2||"}},
        {"the address ends the line", "en0: flags=1<UP>\n\tinet 10.0.0.9", {"en0=10.0.0.9||"}},
        {"a blank indent gives an empty address", "en0: flags=1<UP>\n  inet 10.0.0.1\n", {}},
        {"a blank-indented last inet drops the block",
         "en0: flags=1<UP>\n\tinet 10.0.0.1 x\n  inet 10.0.0.2\n",
         {}},
        {"ether inside a word replaces the address",
         "en0: flags=1<UP>\n\tether aa:bb\n\tinet 10.0.0.1 x\n\ttogether with words\n",
         {"en0=10.0.0.1|with words|"}},
        {"the status is not trimmed",
         "en0: flags=1<UP>\n\tinet 10.0.0.1\n\tstatus: active  \n",
         {"en0=10.0.0.1||active  "}},
        {"the block name is not trimmed",
         " en0 : flags=1<UP>\n\tinet 10.0.0.1\n",
         {" en0 =10.0.0.1||"}},
        {"values before the first block count for it",
         "\tether 11:22:33:44:55:66\n\tstatus: active\nen0: flags=1<UP>\n\tinet 10.0.0.1\n",
         {"en0=10.0.0.1|11:22:33:44:55:66|active"}},
        {"an inet without any block records nothing", "\tinet 10.0.0.1 netmask 0xff\n", {}},
        {"a flags line without a colon is ignored",
         "en0: flags=1<UP>\n\tinet 10.0.0.1\nflags=2 and no colon\n\tstatus: active\n",
         {"en0=10.0.0.1||active"}},
        {"empty output", "", {}},
        {"CR LF line ends",
         "en0: flags=1<UP>\r\n\tether aa:bb:cc:dd:ee:ff \r\n\tinet 10.0.0.1 x\r\n\tstatus: "
         "active\r\n",
         {"en0=10.0.0.1|aa:bb:cc:dd:ee:ff|active"}},
        {"Unicode line separators",
         "en0: flags=1<UP>\u2028\tinet 10.0.0.1 x\u0085\tstatus: active\u2029",
         {"en0=10.0.0.1||active"}},
        // The member line of a bridge contains "flags=": it starts a block of its
        // own (named "\tmember"), and what follows belongs to that block.
        {"bridge member lines start blocks",
         "bridge0: flags=8863<UP> mtu 1500\n\tinet 192.168.2.1 netmask 0xffffff00\n"
         "\tmember: en1 flags=3<LEARNING,DISCOVER>\n\tinet 10.9.9.9 x\n\tstatus: active\n",
         {"\tmember=10.9.9.9||active", "bridge0=192.168.2.1||"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(summarize(parseIfconfigOutput(c.output)), c.records);
    }
}

TEST(IfconfigParser, RunsTheCommandAndLogsOnlyStandardError) {
    test::LogCapture log;
    CommandTable commands;
    commands.ifconfig = "echo 'ifconfig: broken' >&2";
    EXPECT_TRUE(executeAndParseIfconfigCommand(commands).empty());
    EXPECT_EQ(log.texts(), std::vector<std::string>{"error is ifconfig: broken\n"});

    commands.ifconfig = "printf 'en0: flags=1<UP>\\n\\tinet 10.0.0.1 \\377\\n'";
    EXPECT_TRUE(executeAndParseIfconfigCommand(commands).empty())
        << "non-UTF-8 output is no output";
    EXPECT_TRUE(parseIfconfigOutput(std::nullopt).empty());
}

}  // namespace
}  // namespace ww
