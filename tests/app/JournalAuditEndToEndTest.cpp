// Audit events from the built program to the journal: the program runs in a
// private mount namespace whose journal socket is a datagram socket this test
// owns, so sd_journal_send's entries arrive here and are read back field by
// field in the journal's native protocol.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>

#include "discovery/CommandTable.h"
#include "platform/foundation/Text.h"
#include "tests/support/app_TestSupport.h"

namespace ww::test {
namespace {

using Entry = std::map<std::string, std::string>;

const std::string kFixtures = std::string(WW_SOURCE_ROOT) + "/tests/app/fixtures/";

// One datagram of the native protocol: "KEY=VALUE\n", or for values that
// hold a newline "KEY\n", a 64-bit little-endian length, the bytes, "\n".
std::optional<Entry> parseEntry(const std::string& d) {
    Entry e;
    size_t pos = 0;
    while (pos < d.size()) {
        size_t eol = d.find('\n', pos);
        if (eol == std::string::npos) return std::nullopt;
        std::string field = d.substr(pos, eol - pos);
        if (size_t eq = field.find('='); eq != std::string::npos) {
            e[field.substr(0, eq)] = field.substr(eq + 1);
            pos = eol + 1;
            continue;
        }
        if (eol + 1 + 8 > d.size()) return std::nullopt;
        std::uint64_t len = 0;
        for (int i = 7; i >= 0; --i) len = (len << 8) | static_cast<unsigned char>(d[eol + 1 + i]);
        size_t start = eol + 1 + 8;
        if (start + len + 1 > d.size() || d[start + len] != '\n') return std::nullopt;
        e[field] = d.substr(start, len);
        pos = start + len + 1;
    }
    return e;
}

class JournalAuditEndToEndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::getuid() != 0) GTEST_SKIP() << "needs root for a private mount namespace";
        if (std::system("unshare -m --propagation private true 2>/dev/null") != 0) {
            GTEST_SKIP() << "no private mount namespaces here";
        }
        socketPath = dir.file("journal.socket");
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        ASSERT_GE(m_fd, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        ASSERT_LT(socketPath.size(), sizeof addr.sun_path);
        std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
        ASSERT_EQ(::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

        tools = writeCapturedTools(dir, kFixtures, kFixtures + "ifconfig.txt");
        ASSERT_FALSE(tools.empty());
    }
    void TearDown() override {
        if (m_fd >= 0) ::close(m_fd);
    }

    // One `wirewatch --once` (wired and Wi-Fi both up) under this policy,
    // with the journal socket replaced by ours; the entries it sent.
    std::vector<Entry> runWithPolicy(const plist::Value::Dictionary& policy, plist::Value sim) {
        writePlist(dir.file("policy.plist"), policy);
        writeFile(dir.file("wifi.plist"), plist::toXml(sim));
        std::string agent =
            "env -i PATH=/usr/bin:/bin HOME=" + shellQuote(dir.path()) +
            " WIREWATCH_REACHABILITY_HOST= " + shellQuote(buildDir() + "/bin/wirewatch") +
            " --once --tools-dir " + shellQuote(tools) + " --wifi " +
            shellQuote("sim:" + dir.file("wifi.plist")) + " --prefs " +
            shellQuote(dir.file("prefs.plist")) + " --policy " +
            shellQuote(dir.file("policy.plist")) + " --logs-dir " + shellQuote(dir.file("logs"));
        std::string inNamespace =
            "mount -t tmpfs tmpfs /run && mkdir -p /run/systemd/journal && "
            "touch /run/systemd/journal/socket && "
            "mount --bind " +
            shellQuote(socketPath) + " /run/systemd/journal/socket && exec " + agent;
        std::string cmd = "unshare -m --propagation private sh -c " + shellQuote(inNamespace) +
                          " >" + shellQuote(dir.file("out")) + " 2>" + shellQuote(dir.file("err"));
        int status = std::system(cmd.c_str());
        EXPECT_EQ(status, 0) << readFile(dir.file("err"));

        // The program has exited: everything it sent is queued on our socket.
        std::vector<Entry> entries;
        std::string buf(1 << 16, '\0');
        for (;;) {
            ssize_t n = ::recv(m_fd, buf.data(), buf.size(), 0);
            if (n < 0) break;
            auto e = parseEntry(buf.substr(0, static_cast<size_t>(n)));
            EXPECT_TRUE(e) << "a malformed datagram";
            if (e) entries.push_back(*e);
        }
        return entries;
    }

    TempDir dir;
    std::string socketPath, tools;
    int m_fd = -1;
};

TEST_F(JournalAuditEndToEndTest, EachEventIsOneStructuredEntry) {
    auto entries = runWithPolicy({{"selectedInterfaceOption", plist::Value::string("1")},
                                  {"AuditToJournal", plist::Value::boolean(true)}},
                                 simWifi(true, true));
    // Wired and Wi-Fi were both up until the rule acted: one exposure too.
    ASSERT_EQ(entries.size(), 3u) << readFile(dir.file("err"));
    for (const Entry& e : entries) {
        EXPECT_EQ(e.at("SYSLOG_IDENTIFIER"), "wirewatch");
        EXPECT_EQ(e.at("PRIORITY"), "5");
        EXPECT_EQ(e.at("WIREWATCH_RULE"), "1");
        EXPECT_EQ(e.at("WIREWATCH_RULE_SOURCE"), "policy");
        EXPECT_EQ(e.at("WIREWATCH_DRY_RUN"), "0");
        EXPECT_EQ(e.count("WIREWATCH_ERROR"), 0u);
    }
    auto exposure = std::find_if(entries.begin(), entries.end(), [](const Entry& e) {
        return e.at("WIREWATCH_EVENT") == "exposure";
    });
    ASSERT_NE(exposure, entries.end());
    const Entry x = *exposure;
    entries.erase(exposure);
    EXPECT_EQ(x.at("WIREWATCH_EXPOSURE_ENDED_BY"), "Wi-Fi switched off by the rule");
    EXPECT_EQ(x.count("WIREWATCH_INTERFACE"), 0u);
    // The same times as the daily file keeps, and a length that the message repeats.
    EXPECT_LE(x.at("WIREWATCH_EXPOSURE_START"), x.at("WIREWATCH_EXPOSURE_END"));
    EXPECT_EQ(x.at("MESSAGE"), "Wired link and Wi-Fi both up for " +
                                   x.at("WIREWATCH_EXPOSURE_SECONDS") +
                                   " s, until: Wi-Fi switched off by the rule");
    const std::string daily = readFile(dir.file("logs") + "/exposure-audit.jsonl");
    auto days = text::split(daily, '\n');
    ASSERT_GE(days.size(), 1u);
    auto day = nlohmann::json::parse(days[0], nullptr, false);
    ASSERT_FALSE(day.is_discarded()) << days[0];
    ASSERT_EQ(day["intervals"].size(), 1u);
    EXPECT_EQ(day["intervals"][0]["start"], x.at("WIREWATCH_EXPOSURE_START"));
    EXPECT_EQ(day["intervals"][0]["end"], x.at("WIREWATCH_EXPOSURE_END"));

    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].at("WIREWATCH_EVENT"), "policy-applied");
    EXPECT_EQ(entries[0].at("WIREWATCH_INTERFACE"), "");
    EXPECT_EQ(entries[0].at("MESSAGE"), "Policy " + dir.file("policy.plist") +
                                            " applied: AuditToJournal, selectedInterfaceOption");
    EXPECT_EQ(entries[1].at("WIREWATCH_EVENT"), "wifi-switched-off");
    EXPECT_EQ(entries[1].at("WIREWATCH_INTERFACE"), "en0");
    EXPECT_EQ(entries[1].at("MESSAGE"), "Wi-Fi switched off because a wired link is up");
}

TEST_F(JournalAuditEndToEndTest, ARefusedActionCarriesItsReasonByteForByte) {
    plist::Value sim = simWifi(true, true);
    sim.set("failPower", plist::Value::string("refused by\nthe radio"));
    auto entries = runWithPolicy({{"AuditToJournal", plist::Value::boolean(true)},
                                  {"selectedInterfaceOption", plist::Value::integer(1)}},
                                 sim);
    // The refused action ends no exposure: the agent stops with it still open.
    ASSERT_EQ(entries.size(), 3u) << readFile(dir.file("err"));
    const Entry& e = entries[1];
    EXPECT_EQ(e.at("WIREWATCH_EVENT"), "wifi-switched-off");
    EXPECT_EQ(e.at("PRIORITY"), "3");
    EXPECT_EQ(e.at("WIREWATCH_ERROR"), "refused by\nthe radio");  // sent in the binary form
    EXPECT_EQ(e.at("MESSAGE"), "Wi-Fi could not be switched off: refused by\nthe radio");
    EXPECT_EQ(entries[2].at("WIREWATCH_EVENT"), "exposure");
    EXPECT_EQ(entries[2].at("WIREWATCH_EXPOSURE_ENDED_BY"), "agent stopped");
    EXPECT_TRUE(simOperations(dir.file("wifi.plist")).empty());
}

TEST_F(JournalAuditEndToEndTest, NothingReachesTheJournalUnlessThePolicyAsks) {
    auto off = runWithPolicy({{"selectedInterfaceOption", plist::Value::string("1")},
                              {"AuditToJournal", plist::Value::boolean(false)}},
                             simWifi(true, true));
    EXPECT_TRUE(off.empty());
    // The action itself still happened.
    EXPECT_EQ(simOperations(dir.file("wifi.plist")), std::vector<std::string>{"setPower:0"});
    auto entries = runWithPolicy({{"selectedInterfaceOption", plist::Value::string("1")}},
                                 simWifi(true, true));
    EXPECT_TRUE(entries.empty());
}

}  // namespace
}  // namespace ww::test
