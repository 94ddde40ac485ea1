#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "app/UserDefaults.h"
#include "tests/support/app_TestSupport.h"
#include "tests/support/common_Children.h"

namespace ww::test {
namespace {

// How each kind of stored value reads as a number, a text and a flag.
TEST(UserDefaultsTest, ReadingRules) {
    using S = std::optional<std::string>;
    struct Case {
        std::optional<plist::Value> stored;
        std::int64_t integer;
        S text;
        bool flag;
    };
    const Case cases[] = {
        {plist::Value::string("-1"), -1, S("-1"), true},
        {plist::Value::string("1"), 1, S("1"), true},
        {plist::Value::string("0"), 0, S("0"), false},
        {plist::Value::string("abc"), 0, S("abc"), false},
        {plist::Value::string(" 12x"), 12, S(" 12x"), true},
        {plist::Value::string("99999999999999999999"), INT64_MAX, S("99999999999999999999"), true},
        {plist::Value::string("YES"), 0, S("YES"), true},
        {plist::Value::integer(7), 7, S("7"), true},
        {plist::Value::boolean(true), 1, std::nullopt, true},
        {std::nullopt, 0, std::nullopt, false},
    };
    TempDir dir;
    UserDefaults d(dir.file("p.plist"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored ? plist::toXml(*c.stored) : "absent");
        if (c.stored) d.setObject(*c.stored, "key");
        if (!c.stored) d.removeObjectForKey("key");
        EXPECT_EQ(d.integerForKey("key"), c.integer);
        EXPECT_EQ(d.stringForKey("key"), c.text);
        EXPECT_EQ(d.boolForKey("key"), c.flag);
    }
}

TEST(UserDefaultsTest, RegisteredDefaultsAnswerButAreNeverWritten) {
    TempDir dir;
    std::string path = dir.file("sub/p.plist");
    UserDefaults d(path);
    d.registerDefaults({{"enableWireless", plist::Value::string("1")}});
    EXPECT_EQ(d.integerForKey("enableWireless"), 1);
    EXPECT_TRUE(d.synchronize());
    EXPECT_EQ(d.writeCount(), 0);  // nothing to write: no file at all

    d.setObject(plist::Value::string("0"), "enableWireless");
    EXPECT_EQ(d.integerForKey("enableWireless"), 0);
    d.setObject(plist::Value::string("x"), "other");
    ASSERT_TRUE(d.synchronize());
    // On disk when synchronize returns; idle flushes write nothing.
    EXPECT_EQ(UserDefaults(path).integerForKey("enableWireless"), 0);
    for (int i = 0; i < 5; ++i) d.synchronize();
    EXPECT_EQ(d.writeCount(), 1);

    // Removing the stored value lets the default answer again; the file loses the key.
    d.removeObjectForKey("enableWireless");
    ASSERT_TRUE(d.synchronize());
    EXPECT_EQ(d.integerForKey("enableWireless"), 1);
    auto onDisk = plist::parse(readFile(path));
    ASSERT_TRUE(onDisk);
    EXPECT_EQ(onDisk->find("enableWireless"), nullptr);

    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(UserDefaultsTest, EditsByAnotherProcessAreSeenAtTheNextRead) {
    TempDir dir;
    std::string path = dir.file("p.plist");
    UserDefaults d(path);
    d.setObject(plist::Value::string("0"), "selectedInterfaceOption");
    ASSERT_TRUE(d.synchronize());
    EXPECT_EQ(d.integerForKey("selectedInterfaceOption"), 0);

    writePlist(path, {{"selectedInterfaceOption", plist::Value::string("1")},
                      {"DisableUSBConnectedPersonalHotspot", plist::Value::boolean(true)}});
    EXPECT_EQ(d.integerForKey("selectedInterfaceOption"), 1);
    EXPECT_TRUE(d.boolForKey("DisableUSBConnectedPersonalHotspot"));

    // A local change made afterwards is merged with the outside edit when flushed.
    d.setObject(plist::Value::string("1"), "enableWireless");
    ASSERT_TRUE(d.synchronize());
    UserDefaults fresh(path);
    EXPECT_TRUE(fresh.boolForKey("DisableUSBConnectedPersonalHotspot"));
    EXPECT_EQ(fresh.integerForKey("enableWireless"), 1);
}

TEST(UserDefaultsTest, ADamagedFileIsKeptAsideAndTheStoreStartsEmpty) {
    TempDir dir;
    std::string path = dir.file("p.plist");
    writeFile(path, "<plist><dict><key>selectedInterfaceOption</key><str");
    std::vector<std::string> console;
    UserDefaults d(path, [&](const std::string& l) { console.push_back(l); });
    EXPECT_EQ(d.integerForKey("selectedInterfaceOption"), 0);
    ASSERT_EQ(console.size(), 1u);
    EXPECT_NE(console[0].find(".damaged-"), std::string::npos) << console[0];
    d.setObject(plist::Value::string("1"), "enableWireless");
    EXPECT_TRUE(d.synchronize());
    EXPECT_TRUE(plist::parse(readFile(path)));
    // The damaged text survives beside the new store (and its lock file).
    auto names = listDir(dir.path());
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[1].rfind("p.plist.damaged-", 0), 0u) << names[1];
    EXPECT_EQ(names[2], "p.plist.lock");
    EXPECT_EQ(readFile(dir.file(names[1])), "<plist><dict><key>selectedInterfaceOption</key><str");

    // A file too large to be preferences is set aside unread.
    std::string huge = dir.file("huge.plist");
    writeFile(huge, "");
    ASSERT_EQ(::truncate(huge.c_str(), 17 * 1024 * 1024), 0);
    std::vector<std::string> hugeConsole;
    UserDefaults big(huge, [&](const std::string& l) { hugeConsole.push_back(l); });
    EXPECT_FALSE(big.stringForKey("selectedInterfaceOption").has_value());
    ASSERT_EQ(hugeConsole.size(), 1u);
    EXPECT_NE(hugeConsole[0].find("larger than 16 MiB"), std::string::npos) << hugeConsole[0];
}

TEST(UserDefaultsTest, AWriterKilledAtAnyMomentNeverLeavesAnUnreadableFile) {
    TempDir dir;
    std::string path = dir.file("p.plist");
    std::mt19937 rng(12345);
    for (int round = 0; round < 40; ++round) {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            UserDefaults d(path, [](const std::string&) {});
            for (long i = 0;; ++i) {
                d.setObject(plist::Value::string(std::string(static_cast<size_t>(i % 5000), 'x')),
                            "big");
                d.setObject(plist::Value::string(std::to_string(i)), "counter");
                d.synchronize();
            }
        }
        // Let the writer run for a random moment (spinning, so the kill lands
        // anywhere in a write), then kill it without warning.
        auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(rng() % 20000);
        while (std::chrono::steady_clock::now() < until) {
        }
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        auto text = file::readAll(path);
        if (!text) continue;  // killed before the first write
        EXPECT_TRUE(plist::parse(*text)) << "round " << round;
    }
}

// Processes sharing the file (a tray agent and `--once`, say) each merge
// their changes into what the others wrote.
TEST(UserDefaultsTest, ProcessesSharingTheFileKeepEachOthersChanges) {
    TempDir dir;
    std::string path = dir.file("p.plist");
    constexpr int kProcesses = 4, kWrites = 60;
    runInChildren(kProcesses, [&](int p) {
        UserDefaults d(path, [](const std::string&) {});
        for (int i = 1; i <= kWrites; ++i) {
            d.setObject(plist::Value::string(std::to_string(i)), "k" + std::to_string(p));
            if (!d.synchronize()) return false;
        }
        return true;
    });
    UserDefaults fresh(path);
    for (int p = 0; p < kProcesses; ++p) {
        EXPECT_EQ(fresh.integerForKey("k" + std::to_string(p)), kWrites) << readFile(path);
    }
}

TEST(UserDefaultsTest, SafeFromSeveralThreads) {
    TempDir dir;
    UserDefaults d(dir.file("p.plist"));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&d, t] {
            for (int i = 0; i < 200; ++i) {
                d.setObject(plist::Value::string(std::to_string(i)), "k" + std::to_string(t));
                (void)d.integerForKey("k" + std::to_string((t + 1) % 4));
                if (i % 50 == 0) d.synchronize();
            }
        });
    }
    for (auto& th : threads) th.join();
    ASSERT_TRUE(d.synchronize());
    UserDefaults fresh(dir.file("p.plist"));
    for (int t = 0; t < 4; ++t) EXPECT_EQ(fresh.integerForKey("k" + std::to_string(t)), 199);
}

}  // namespace
}  // namespace ww::test
