// The agent's built-in stand-ins against the stand-in programs: inside one
// network namespace, each of the four command lines answered in-process and
// run as a program through /bin/sh must give the same bytes on standard
// output and standard error, also when the same table answers again after the
// namespace or the declared ports changed (the built-ins keep their answers
// between changes), and when it is asked from another namespace.
#include <gtest/gtest.h>

#include "DiscoveryTestSupport.h"
#include "discovery/ShellCommand.h"
#include "platform/foundation/Plist.h"
#include "tests/support/reachability_Netns.h"
#include "tools/BuiltInTools.h"

namespace ww {
namespace {

struct Outputs {
    std::string output, error;
};

class BuiltInToolsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!ns.available()) GTEST_SKIP() << "needs a network namespace: " << ns.whyUnavailable();
        for (const char* end : {"wa0", "wc0", "we0"}) {
            ASSERT_TRUE(ns.addVethPair(end, std::string(end) + "-peer"));
        }
        for (const char* command :
             {"addr add 198.51.100.1/24 dev wa0", "addr add 198.51.100.9/32 dev wa0",
              "addr add 203.0.113.1/24 dev wc0", "-6 addr add 2001:db8::1/64 dev wc0 nodad",
              "addr add 192.0.2.1 peer 192.0.2.2/32 dev we0",
              "route add default via 203.0.113.254 dev wc0 metric 50",
              "route add default via 198.51.100.254 dev wa0 metric 100",
              "link set wa0-peer down"}) {
            ASSERT_EQ(ns.ip(command), 0) << command;
        }

        test::writeFile(simPath, plist::toXml(test::simWifi(true, true)));
    }

    // Every line of the table, answered both ways inside the namespace (or,
    // with `inside` false, in the test's own).
    void expectSameBytes(const std::string& what, bool inside = true) {
        SCOPED_TRACE(what);
        ASSERT_NE(table.builtIns, nullptr);
        for (const std::string& line :
             {table.ifconfig, table.systemProfiler, table.networksetup, table.airport}) {
            SCOPED_TRACE(line);
            const BuiltInCommands::Command* builtIn = table.builtIns->find(line);
            ASSERT_NE(builtIn, nullptr);
            auto bothWays = [&] {
                BuiltInOutput b = (*builtIn)();
                ShellCommandResult p = runShellCommand(line, "test");
                return std::pair<Outputs, Outputs>{{b.output, b.error},
                                                   {p.output.value_or("?"), p.error.value_or("?")}};
            };
            bool entered = !inside;
            auto [inProcess, program] = inside ? ns.inside(bothWays, entered) : bothWays();
            ASSERT_TRUE(entered);
            EXPECT_EQ(inProcess.output, program.output);
            EXPECT_EQ(inProcess.error, program.error);
            if (line != table.airport || what != "no Wi-Fi") {
                EXPECT_FALSE(inProcess.output.empty() && inProcess.error.empty());
            }
        }
    }

    test::Netns ns{"wwbuiltin"};
    // One table for the whole test, as the agent keeps one.
    const CommandTable table = tools::builtInToolsTable(WW_TOOLS_BUILD_DIR);
    test::TempDir dir;
    std::string simPath = dir.file("wifi.plist");
};

TEST_F(BuiltInToolsTest, EachBuiltInPrintsTheSameBytesAsItsProgram) {
    std::string ports = dir.file("ports.txt");
    test::writeFile(ports, "# bench\nwa0\tLab LAN\tEthernet\nwc0\tWi-Fi\tAirPort\n");
    test::ScopedEnv portsFile("WIREWATCH_HWPORTS_FILE", ports);
    {
        test::ScopedEnv wifi("WIREWATCH_WIFI", "sim:" + simPath);
        expectSameBytes("declared ports, simulated Wi-Fi");
    }
    {
        test::ScopedEnv wifi("WIREWATCH_WIFI", "none");
        expectSameBytes("no Wi-Fi");
    }
    {
        // Powered off, then not associated.
        test::writeFile(simPath, plist::toXml(test::simWifi(false, false)));
        test::ScopedEnv wifi("WIREWATCH_WIFI", "sim:" + simPath);
        expectSameBytes("Wi-Fi off");
        test::writeFile(simPath, plist::toXml(test::simWifi(true, false)));
        expectSameBytes("Wi-Fi not associated");
    }
    test::ScopedEnv wifi("WIREWATCH_WIFI", "sim:" + simPath);
    // An address, a carrier and the default route that ordered the services
    // change; then the declared ports, which the kernel does not announce.
    ASSERT_EQ(ns.ip("addr add 198.51.100.77/24 dev we0"), 0);
    ASSERT_EQ(ns.ip("link set wc0-peer down"), 0);
    ASSERT_EQ(ns.ip("route del default via 203.0.113.254 dev wc0"), 0);
    expectSameBytes("after the namespace changed");
    test::writeFile(ports, "we0\tLab LAN\tEthernet\nwa0\tWi-Fi\tAirPort\n");
    expectSameBytes("after the declared ports changed");
    // The same table asked from this thread's namespace answers for that one.
    expectSameBytes("from another namespace", false);
}

TEST_F(BuiltInToolsTest, ErrorTextsAreTheSameToo) {
    // A malformed port line, and a Wi-Fi backend the tool does not know.
    std::string ports = dir.file("bad-ports.txt");
    test::writeFile(ports, "wa0\tLab LAN\tEthernet\tone too many\nwc0\n");
    test::ScopedEnv portsFile("WIREWATCH_HWPORTS_FILE", ports);
    test::ScopedEnv wifi("WIREWATCH_WIFI", "bogus");
    expectSameBytes("bad port file, unknown backend");

    test::ScopedEnv missingPorts("WIREWATCH_HWPORTS_FILE", dir.file("missing.txt"));
    test::ScopedEnv missingSim("WIREWATCH_WIFI", "sim:" + dir.file("missing.plist"));
    expectSameBytes("missing port file and state file");
}

// Only the table's own lines are built in; a named folder's table has none.
TEST(BuiltInTools, OnlyTheFourLinesOfTheDefaultTable) {
    const CommandTable table = tools::builtInToolsTable("/opt/it's tools");
    ASSERT_NE(table.builtIns, nullptr);
    const CommandTable plain = CommandTable::forToolsDirectory("/opt/it's tools");
    EXPECT_EQ(plain.builtIns, nullptr);
    for (const auto& [line, same] : {std::pair{table.ifconfig, plain.ifconfig},
                                     {table.systemProfiler, plain.systemProfiler},
                                     {table.networksetup, plain.networksetup},
                                     {table.airport, plain.airport}}) {
        EXPECT_EQ(line, same);
        EXPECT_NE(table.builtIns->find(line), nullptr) << line;
    }
    EXPECT_EQ(table.builtIns->find(table.ifconfig + " -a"), nullptr);
    EXPECT_EQ(table.builtIns->find("echo hello"), nullptr);
    // A line that is not built in still runs through the shell.
    auto r = runShellCommand("printf unchanged", "test", table.builtIns.get());
    EXPECT_EQ(r.output, "unchanged");
}

// The runner treats a built-in's outputs like a program's: its error text is
// logged as "error is ...", under the caller's name.
TEST(BuiltInTools, ErrorTextIsLoggedLikeAProgramsError) {
    test::LogCapture capture;
    BuiltInCommands commands;
    commands.add("tool -x", [] { return BuiltInOutput{"out\n", "tool: trouble\n"}; });
    auto r = runShellCommand("tool -x", "someCaller", &commands);
    EXPECT_EQ(r.output, "out\n");
    EXPECT_EQ(r.error, "tool: trouble\n");
    DDLog::flushLog();
    auto lines = capture.linesContaining("error is tool: trouble");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].function, "someCaller");
}

}  // namespace
}  // namespace ww
