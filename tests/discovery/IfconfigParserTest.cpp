#include <gtest/gtest.h>

#include "DiscoveryTestSupport.h"
#include "discovery/IfconfigParser.h"

namespace ww {
namespace {

// BSD name -> address, hardware address, status.
using ExpectedTable = std::map<std::string, std::vector<std::string>>;

ExpectedTable summarize(const InterfaceTable& table) {
    ExpectedTable out;
    for (const auto& [name, info] : table) {
        out[name] = {info->IPAdress.get().value_or("<absent>"),
                     info->MacAdress.get().value_or("<absent>"),
                     info->status.get().value_or("<absent>")};
    }
    return out;
}

struct Case {
    const char* name;
    std::string output;
    ExpectedTable expected;
};

class IfconfigGrammar : public ::testing::TestWithParam<Case> {};

TEST_P(IfconfigGrammar, Parses) {
    EXPECT_EQ(summarize(parseIfconfigOutput(GetParam().output)), GetParam().expected);
}

const std::string kLoopback =
    "lo0: flags=8049<UP,LOOPBACK,RUNNING,MULTICAST> mtu 16384\n\tinet 127.0.0.1 netmask "
    "0xff000000\n";
const std::string kEn0 =
    "en0: flags=8863<UP,BROADCAST,SMART,RUNNING,SIMPLEX,MULTICAST> mtu 1500\n"
    "\tether 3c:22:fb:01:02:03 \n\tinet 192.168.1.20 netmask 0xffffff00 broadcast "
    "192.168.1.255\n\tstatus: active\n";
const std::string kEn5Inactive =
    "en5: flags=8863<UP,BROADCAST> mtu 1500\n\tether 00:1c:42:00:00:05\n\tstatus: inactive\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, IfconfigGrammar,
    ::testing::Values(
        Case{"LoopbackUsableAndNoInet",
             kLoopback + kEn0 + kEn5Inactive,
             {{"en0", {"192.168.1.20", "3c:22:fb:01:02:03", "active"}}}},
        Case{"LoopbackFirstMiddleAndLast",
             kLoopback + kEn0 + kLoopback + kEn5Inactive + kLoopback,
             {{"en0", {"192.168.1.20", "3c:22:fb:01:02:03", "active"}}}},
        Case{"LoopbackAnyAddressBeginningWith127",
             "lo1: flags=1<UP>\n\tinet 127.5.6.7 netmask 0xff000000\n"
             "x0: flags=1<UP>\n\tinet 1270.0.0.1 x\n",
             {}},
        Case{"Inet6Only",
             "utun0: flags=8051<UP,POINTOPOINT> mtu 1380\n\tinet6 fe80::1%utun0 prefixlen 64 "
             "scopeid 0xf \n",
             {}},
        Case{"NoEtherNoStatus",
             "utun3: flags=8051<UP> mtu 1400\n\tinet 10.8.0.6 --> 10.8.0.5\n",
             {{"utun3", {"10.8.0.6", "", ""}}}},
        Case{"SameNameTwiceLaterWins",
             "en0: flags=1<UP>\n\tinet 10.0.0.1 x\nen0: flags=1<UP>\n\tinet 10.0.0.2 x\n",
             {{"en0", {"10.0.0.2", "", ""}}}},
        Case{"SecondInetLineWins",
             "en0: flags=1<UP>\n\tinet 10.0.0.1 a\n\tinet 10.0.0.2 b\n",
             {{"en0", {"10.0.0.2", "", ""}}}},
        Case{"AddressEndsTheLine",
             "en0: flags=1<UP>\n\tinet 10.0.0.9",
             {{"en0", {"10.0.0.9", "", ""}}}},
        Case{"BlankIndentGivesEmptyAddress", "en0: flags=1<UP>\n  inet 10.0.0.1\n", {}},
        Case{"BlankIndentedLastInetDropsBlock",
             "en0: flags=1<UP>\n\tinet 10.0.0.1 x\n  inet 10.0.0.2\n",
             {}},
        Case{"EtherInsideAWordReplacesAddress",
             "en0: flags=1<UP>\n\tether aa:bb\n\tinet 10.0.0.1 x\n\ttogether with words\n",
             {{"en0", {"10.0.0.1", "with words", ""}}}},
        Case{"StatusIsNotTrimmed",
             "en0: flags=1<UP>\n\tinet 10.0.0.1\n\tstatus: active  \n",
             {{"en0", {"10.0.0.1", "", "active  "}}}},
        Case{"BlockNameIsNotTrimmed",
             " en0 : flags=1<UP>\n\tinet 10.0.0.1\n",
             {{" en0 ", {"10.0.0.1", "", ""}}}},
        Case{"ValuesBeforeFirstBlockCountForIt",
             "\tether 11:22:33:44:55:66\n\tstatus: active\nen0: flags=1<UP>\n\tinet 10.0.0.1\n",
             {{"en0", {"10.0.0.1", "11:22:33:44:55:66", "active"}}}},
        Case{"InetWithoutAnyBlockRecordsNothing", "\tinet 10.0.0.1 netmask 0xff\n", {}},
        Case{"FlagsLineWithoutColonIsIgnored",
             "en0: flags=1<UP>\n\tinet 10.0.0.1\nflags=2 and no colon\n\tstatus: active\n",
             {{"en0", {"10.0.0.1", "", "active"}}}},
        Case{"EmptyOutput", "", {}},
        Case{"CrLfLineEnds",
             "en0: flags=1<UP>\r\n\tether aa:bb:cc:dd:ee:ff \r\n\tinet 10.0.0.1 netmask x\r\n"
             "\tstatus: active\r\n",
             {{"en0", {"10.0.0.1", "aa:bb:cc:dd:ee:ff", "active"}}}},
        Case{"UnicodeLineSeparators",
             "en0: flags=1<UP>\u2028\tinet 10.0.0.1 x\u0085\tstatus: active\u2029",
             {{"en0", {"10.0.0.1", "", "active"}}}},
        // The member line of a bridge contains "flags=": it starts a block of its
        // own (named "\tmember"), and what follows belongs to that block.
        Case{"BridgeMemberLinesStartBlocks",
             "bridge0: flags=8863<UP> mtu 1500\n\tinet 192.168.2.1 netmask 0xffffff00\n"
             "\tmember: en1 flags=3<LEARNING,DISCOVER>\n\tinet 10.9.9.9 x\n\tstatus: active\n",
             {{"bridge0", {"192.168.2.1", "", ""}}, {"\tmember", {"10.9.9.9", "", "active"}}}}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

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
