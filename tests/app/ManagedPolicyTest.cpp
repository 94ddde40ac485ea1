// The administrator's policy: precedence over the preferences, the owner and
// mode it must have, damaged and vanished files, a change seen by the running
// agent, the administrator's exit password and the audit events.

#include <gtest/gtest.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "app/ManagedPolicy.h"
#include "settings/ManagedExitPassword.h"
#include "tests/app/AgentFixture.h"

namespace ww::test {
namespace {

using namespace std::chrono_literals;

// Argon2id is slow by design; tests hash with the smallest limits (the
// verification cost follows the hash's own parameters).
std::string quickHash(const std::string& password) {
    auto hash = exitpassword::hashPassword(password, crypto_pwhash_OPSLIMIT_MIN,
                                           crypto_pwhash_MEMLIMIT_MIN);
    return hash.value_or("");
}

using V = plist::Value;

// A policy of one key, as its file holds it.
std::string oneKey(const std::string& key, const V& value) {
    return plist::toXml(V::dictionary({{key, value}}));
}

// A policy store whose required owner is whoever runs the test, so that the
// precedence tests need no root; the ownership test uses root itself.
struct PolicyBench {
    TempDir dir;
    std::string policyPath = dir.file("policy.plist");
    std::vector<std::string> console;
    std::shared_ptr<ManagedPolicy> policy = std::make_shared<ManagedPolicy>(
        policyPath, [this](const std::string& l) { console.push_back(l); }, ::getuid());
    UserDefaults prefs{dir.file("prefs.plist"), [](const std::string&) {}};
    PolicyBench() { prefs.setManagedPolicy(policy); }
};

// The example shipped with the package is a policy the agent takes as it
// stands: every key known, every value of the right kind.
TEST(ManagedPolicyTest, TheShippedExampleIsAValidPolicy) {
    PolicyBench b;
    std::string example = readFile(std::string(WW_SOURCE_ROOT) + "/docs/policy.plist");
    ASSERT_FALSE(example.empty());
    writeFile(b.policyPath, example, 0644);
    plist::Value::Dictionary keys = b.policy->current();
    ASSERT_EQ(b.console.size(), 1u);
    EXPECT_NE(b.console[0].find(" applies: AuditToJournal, "), std::string::npos) << b.console[0];
    EXPECT_EQ(keys.size(), 9u);
    const auto& known = ManagedPolicy::knownKeys();
    for (const auto& [key, value] : keys) {
        EXPECT_NE(std::find(known.begin(), known.end(), key), known.end()) << key;
    }
    EXPECT_TRUE(b.prefs.isManaged("InterfaceOverrides"));
    EXPECT_EQ(b.prefs.integerForKey("FlapLimit"), 4);
    EXPECT_TRUE(exitpassword::opensExitGate(b.prefs, "admin-secret"));
}

TEST(ManagedPolicyTest, EveryPolicyKeyWinsOverThePreferencesUntilItIsLifted) {
    struct Case {
        const char* key;
        plist::Value user, policy;
    };
    const Case cases[] = {
        {"selectedInterfaceOption", V::string("0"), V::string("1")},
        {"enableWireless", V::string("1"), V::integer(0)},
        {"loadOnStartUp", V::string("1"), V::string("0")},
        {"DisableUSBConnectedPersonalHotspot", V::boolean(false), V::boolean(true)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        PolicyBench b;
        b.prefs.registerDefaults({{c.key, c.user}});
        EXPECT_EQ(b.prefs.sourceForKey(c.key), SettingSource::Defaults);
        b.prefs.setObject(c.user, c.key);
        ASSERT_TRUE(b.prefs.synchronize());
        EXPECT_EQ(b.prefs.sourceForKey(c.key), SettingSource::Preferences);
        EXPECT_FALSE(b.prefs.isManaged(c.key));

        writePlist(b.policyPath, {{c.key, c.policy}});
        EXPECT_EQ(b.prefs.objectForKey(c.key), c.policy);
        EXPECT_EQ(b.prefs.sourceForKey(c.key), SettingSource::Policy);
        EXPECT_TRUE(b.prefs.isManaged(c.key));
        EXPECT_FALSE(b.prefs.isManaged("EXIT_PASSWORD"));
        // The user's own value stays stored, and a write while managed is kept too.
        b.prefs.setObject(c.user, c.key);
        ASSERT_TRUE(b.prefs.synchronize());
        EXPECT_EQ(b.prefs.objectForKey(c.key), c.policy);
        EXPECT_EQ(UserDefaults(b.dir.file("prefs.plist")).objectForKey(c.key), c.user);

        // Lifted: the user's value answers again.
        ASSERT_EQ(::unlink(b.policyPath.c_str()), 0);
        EXPECT_EQ(b.prefs.objectForKey(c.key), c.user);
        EXPECT_FALSE(b.prefs.isManaged(c.key));
        ASSERT_FALSE(b.console.empty());
        EXPECT_NE(b.console.back().find("is gone; no policy applies now"), std::string::npos);
    }
}

// A check looks at the policy and the preferences once: what another process
// writes meanwhile counts from the next check; the store's own changes at once.
TEST(ManagedPolicyTest, ACheckLooksAtBothFilesOnceAndSeesLaterEditsAfterIt) {
    PolicyBench b;
    {
        UserDefaults::OneLook once(b.prefs);
        EXPECT_EQ(b.prefs.sourceForKey("selectedInterfaceOption"), SettingSource::None);
        writePlist(b.policyPath, {{"selectedInterfaceOption", V::string("1")}});
        writePlist(b.prefs.path(), {{"enableWireless", V::string("1")}});
        EXPECT_EQ(b.prefs.sourceForKey("selectedInterfaceOption"), SettingSource::None);
        EXPECT_FALSE(b.prefs.boolForKey("enableWireless"));
        b.prefs.setObject(V::string("1"), "DisableUSBConnectedPersonalHotspot");
        EXPECT_TRUE(b.prefs.boolForKey("DisableUSBConnectedPersonalHotspot"));
    }
    EXPECT_EQ(b.prefs.sourceForKey("selectedInterfaceOption"), SettingSource::Policy);
    EXPECT_TRUE(b.prefs.boolForKey("enableWireless"));
}

TEST(ManagedPolicyTest, OnlyARootOwnedFileThatOthersCannotWriteIsHonoured) {
    if (::getuid() != 0) GTEST_SKIP() << "needs root to give the policy file away";
    TempDir dir;
    std::string path = dir.file("policy.plist");
    std::vector<std::string> console;
    ManagedPolicy policy(path, [&](const std::string& l) { console.push_back(l); });
    writePlist(path, {{"selectedInterfaceOption", V::string("1")}});
    EXPECT_TRUE(policy.valueForKey("selectedInterfaceOption"));

    struct Case {
        uid_t owner;
        mode_t mode;
        const char* why;  // empty: honoured
    };
    const Case cases[] = {
        {65534, 0644, "it is owned by uid 65534, not by root"},
        {0, 0664, "group or others may write it (mode 0664)"},
        {0, 0646, "group or others may write it (mode 0646)"},
        {0, 0600, ""},
        {0, 0444, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        ASSERT_EQ(::chown(path.c_str(), c.owner, 0), 0);
        ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
        console.clear();
        bool honoured = policy.valueForKey("selectedInterfaceOption").has_value();
        // Asked again without a change: still one line.
        policy.current();
        if (*c.why) {
            EXPECT_FALSE(honoured);
            ASSERT_EQ(console.size(), 1u);
            EXPECT_EQ(console[0], "Policy " + path + " is ignored: " + c.why + ".");
        } else {
            EXPECT_TRUE(honoured);
        }
    }

    // A folder in its place is no policy either.
    ASSERT_EQ(::unlink(path.c_str()), 0);
    ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
    console.clear();
    EXPECT_TRUE(policy.current().empty());
    ASSERT_EQ(console.size(), 1u);
    EXPECT_NE(console[0].find("it is not a regular file"), std::string::npos);
}

TEST(ManagedPolicyTest, NoFileIsNoPolicyAndADamagedOneKeepsTheLastGoodOne) {
    PolicyBench b;
    // No file: no policy, and no complaint.
    EXPECT_TRUE(b.policy->current().empty());
    EXPECT_EQ(b.prefs.sourceForKey("enableWireless"), SettingSource::None);
    EXPECT_TRUE(b.console.empty());
    EXPECT_EQ(b.policy->generation(), 0u);
    // Damaged at start: no policy.
    writeFile(b.policyPath, "<plist><dict><key>selectedInterfaceOption</key>", 0644);
    EXPECT_TRUE(b.policy->current().empty());
    ASSERT_EQ(b.console.size(), 1u);
    EXPECT_NE(b.console[0].find("is damaged"), std::string::npos) << b.console[0];
    EXPECT_NE(b.console[0].find("no policy applies"), std::string::npos) << b.console[0];

    writePlist(b.policyPath, {{"selectedInterfaceOption", V::string("1")}});
    EXPECT_EQ(b.prefs.integerForKey("selectedInterfaceOption"), 1);
    std::uint64_t good = b.policy->generation();

    const V tun0 = V::dictionary({{"docker0", V::string("ignore")}, {"tun0", V::string("Wired")}});
    const std::pair<std::string, std::string> damaged[] = {
        {"<plist><dict><key>enableWireless</key><str", "could not be parsed"},
        {"<plist><array><string>1</string></array></plist>", "the root is not a dictionary"},
        {oneKey("selectedInterfaceOption", V::boolean(true)),
         "selectedInterfaceOption must be a whole number"},
        {oneKey("AuditToJournal", V::string("yes")), "AuditToJournal must be a boolean"},
        {oneKey("ExitPasswordHash", V::string("secret")),
         "ExitPasswordHash must be an argon2id hash"},
        {oneKey("EXIT_PASSWORD", V::string("abc")), "EXIT_PASSWORD is not a policy key"},
        {oneKey("InterfaceOverrides", V::string("docker0")),
         "InterfaceOverrides must be a dictionary"},
        {oneKey("InterfaceOverrides", tun0),
         "InterfaceOverrides: tun0 must be \"wired\" or \"ignore\""},
        {oneKey("FlapLimit", V::string("three")), "FlapLimit must be a whole number"},
        {oneKey("NotifyWiFiCut", V::integer(1)), "NotifyWiFiCut must be a boolean"},
    };
    for (const auto& [bytes, why] : damaged) {
        SCOPED_TRACE(why);
        b.console.clear();
        writeFile(b.policyPath, bytes, 0644);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(b.prefs.integerForKey("selectedInterfaceOption"), 1);
        EXPECT_EQ(b.policy->generation(), good);
        ASSERT_EQ(b.console.size(), 1u);  // one line, however often it is read
        EXPECT_NE(b.console[0].find("keeping the policy last read"), std::string::npos)
            << b.console[0];
        if (why != "could not be parsed") {
            EXPECT_NE(b.console[0].find(why), std::string::npos) << b.console[0];
        }
    }

    // Mended: the new policy applies.
    writePlist(b.policyPath, {{"selectedInterfaceOption", V::string("-1")}});
    EXPECT_EQ(b.prefs.integerForKey("selectedInterfaceOption"), -1);
    EXPECT_GT(b.policy->generation(), good);
}

// ---- through the agent ------------------------------------------------------------------

class RecordingAuditSink : public AuditSink {
  public:
    void record(const AgentEvent& event, const AuditContext& context) override {
        std::lock_guard lock(m_mutex);
        m_events.push_back({event, context});
    }
    std::vector<std::pair<AgentEvent, AuditContext>> events() {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    void recordExposure(const Exposure&, const AuditContext&) override {}
    std::vector<std::string> names() {
        std::vector<std::string> out;
        for (const auto& [e, c] : events()) out.push_back(agentEventName(e.kind));
        return out;
    }

  private:
    std::mutex m_mutex;
    std::vector<std::pair<AgentEvent, AuditContext>> m_events;
};

class PolicyAgentTest : public AgentFixture {
  protected:
    void SetUp() override {
        AgentFixture::SetUp();
        policyPath = dir.file("policy.plist");
        policy = std::make_shared<ManagedPolicy>(
            policyPath, [this](const std::string& l) { policyConsole.push_back(l); }, ::getuid());
        defaults->setManagedPolicy(policy);
    }
    void launch() {
        // The Wi-Fi the inventory sees connected has a name, for the events.
        inventory = [this](NetworkState& s) {
            if (wired) s.viaEthernet = true;
            if (wireless) {
                s.viaWifi = true;
                s.wifiInterfaceName.set("wlan0");
            }
        };
        AgentFixture::launch();
    }

    std::string policyPath;
    std::vector<std::string> policyConsole;
    std::shared_ptr<ManagedPolicy> policy;
    RecordingAuditSink sink;
};

TEST_F(PolicyAgentTest, TheRunningAgentFollowsAPolicyThatChanges) {
    setPref("selectedInterfaceOption", "0");
    wired = wireless = true;
    launch();
    runCheck();
    EXPECT_EQ(simOperations(simPath), std::vector<std::string>{"disassociate"});

    // The administrator switches Wi-Fi off instead; the user's "0" stays.
    writePlist(policyPath, {{"selectedInterfaceOption", V::string("1")}});
    runCheck();
    EXPECT_EQ(simOperations(simPath), (std::vector<std::string>{"disassociate", "setPower:0"}));
    EXPECT_TRUE(delegate->isChanged());
    CheckReport report = delegate->checkReport();
    EXPECT_EQ(report.rule.value, 1);
    EXPECT_EQ(report.rule.source, SettingSource::Policy);
    EXPECT_EQ(report.policyPath, policyPath);
    EXPECT_EQ(report.policyKeys, std::vector<std::string>{"selectedInterfaceOption"});

    // No rule by policy, nothing connected, Wi-Fi not to be switched on: warning.
    writePlist(policyPath,
               {{"selectedInterfaceOption", V::integer(-1)}, {"enableWireless", V::integer(0)}});
    wired = wireless = false;
    runCheck();
    EXPECT_EQ(icon(), "ww-warning-menubar.tif");
    EXPECT_EQ(delegate->checkReport().enableWireless.source, SettingSource::Policy);
}

TEST_F(PolicyAgentTest, TheAdministratorsPasswordGuardsQuittingAndPausing) {
    setPref("EXIT_PASSWORD", "mine");
    writePlist(policyPath, {{"ExitPasswordHash", V::string(quickHash("admin-pw"))}});
    launch();
    shell.terminate();
    EXPECT_FALSE(shell.terminated());
    EXPECT_TRUE(shell.exitPasswordWindow.isVisible());

    // The user's own password, a wrong one, a case variant, text typed past it: nothing.
    for (const char* typed : {"mine", "wrong", "Admin-pw", "admin-pw ", "admin-pwX"}) {
        shell.exitPasswordField.type(typed);
        EXPECT_FALSE(shell.terminated()) << typed;
    }
    // The user clears their own password, and plants a hash of their own: the
    // gate stays closed.
    setPref("EXIT_PASSWORD", "");
    defaults->setObject(V::string(quickHash("mine")), exitpassword::kPolicyHashKey);
    ASSERT_TRUE(defaults->synchronize());
    EXPECT_EQ(delegate->applicationShouldTerminate(), TerminateReply::Cancel);
    shell.exitPasswordField.type("mine");
    EXPECT_FALSE(shell.terminated());

    // Pausing goes through the same gate: only the administrator's password pauses.
    ProtectionPause& pause = delegate->protection().pause();
    EXPECT_TRUE(pause.needsPassword());
    delegate->pauseFromMenu(15min);
    EXPECT_TRUE(shell.pausePasswordWindow.isVisible());
    EXPECT_EQ(pause.pause(15min, std::string("mine")), ProtectionPause::Result::WrongPassword);
    runCheck([this] { shell.pausePasswordField.type("admin-pw"); });
    EXPECT_TRUE(pause.isPaused());
    EXPECT_FALSE(shell.pausePasswordWindow.isVisible());
    EXPECT_FALSE(shell.terminated()) << "the pause window is no way out";

    // Typed key by key, it opens on the last key of the password itself; the
    // keys typed past it are never needed.
    const std::string password = "admin-pw";
    for (size_t n = 1; n <= password.size(); ++n) {
        shell.exitPasswordField.type(password.substr(0, n));
        EXPECT_EQ(shell.terminated(), n == password.size()) << n;
    }
}

TEST_F(PolicyAgentTest, AuditEventsFollowTheChangesOnlyWhileThePolicyAsksForThem) {
    auto audited = [&](const char* rule) {
        writePlist(policyPath, {{"selectedInterfaceOption", V::string(rule)},
                                {"AuditToJournal", V::boolean(true)}});
    };
    audited("1");
    wired = wireless = true;
    auditSink = &sink;
    launch();
    EXPECT_EQ(sink.names(), std::vector<std::string>{"policy-applied"});

    runCheck();
    runCheck();  // Wi-Fi is off already: no second record
    auto events = sink.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(agentEventName(events[1].first.kind), std::string("wifi-switched-off"));
    EXPECT_EQ(events[1].first.interface, "wlan0");
    EXPECT_EQ(events[1].second.rule, "1");
    EXPECT_EQ(events[1].second.ruleSource, "policy");
    // The report still lists the repeated action, marked as changing nothing.
    auto actions = delegate->lastCheckActions();
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_FALSE(actions[0].changed);

    // No rule while both are up: the warning starts; rule 0 ends it.
    audited("-1");
    runCheck();
    audited("0");
    runCheck();
    EXPECT_EQ(sink.names(),
              (std::vector<std::string>{"policy-applied", "wifi-switched-off", "policy-applied",
                                        "warning-entered", "policy-applied", "wifi-switched-on",
                                        "wifi-disconnected", "warning-left"}));
    // Switched back on (the power-off rule had switched it off) before the disconnect.
    EXPECT_EQ(simOperations(simPath),
              (std::vector<std::string>{"setPower:0", "setPower:0", "setPower:1", "disassociate"}));

    // Without AuditToJournal nothing more is recorded, though the actions go on.
    writePlist(policyPath, {{"selectedInterfaceOption", V::string("1")}});
    size_t before = sink.events().size();
    runCheck();
    EXPECT_EQ(sink.events().size(), before);
    ASSERT_EQ(delegate->lastCheckActions().size(), 1u);
    EXPECT_TRUE(delegate->lastCheckActions()[0].changed);
}

TEST(ExitPasswordHashTest, HashesVerifyOnlyTheirOwnPassword) {
    std::string hash = quickHash("s3cret pass");
    ASSERT_EQ(hash.rfind("$argon2id$", 0), 0u) << hash;
    EXPECT_TRUE(exitpassword::verifyPassword(hash, "s3cret pass"));
    for (const char* wrong : {"", "s3cret", "s3cret pass ", "S3cret pass"}) {
        EXPECT_FALSE(exitpassword::verifyPassword(hash, wrong)) << wrong;
    }
    EXPECT_FALSE(exitpassword::verifyPassword("", ""));
    EXPECT_FALSE(exitpassword::verifyPassword(std::string(200, '$'), "x"));
    EXPECT_NE(quickHash("same"), quickHash("same"));  // salted
}

}  // namespace
}  // namespace ww::test
