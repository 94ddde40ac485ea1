#include "app/UserDefaults.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "tests/support/app_TestSupport.h"

namespace ww::test {
namespace {

TEST(UserDefaultsTest, ReadingRules) {
    TempDir dir;
    UserDefaults d(dir.file("p.plist"));
    for (auto [key, text] : {std::pair{"minus", "-1"},
                             {"one", "1"},
                             {"word", "abc"},
                             {"lead", " 12x"},
                             {"huge", "99999999999999999999"},
                             {"yes", "YES"},
                             {"zero", "0"}}) {
        d.setObject(plist::Value::string(text), key);
    }
    d.setObject(plist::Value::integer(7), "number");
    d.setObject(plist::Value::boolean(true), "flag");

    EXPECT_EQ(d.integerForKey("minus"), -1);
    EXPECT_EQ(d.integerForKey("one"), 1);
    EXPECT_EQ(d.integerForKey("word"), 0);
    EXPECT_EQ(d.integerForKey("lead"), 12);
    EXPECT_EQ(d.integerForKey("huge"), INT64_MAX);
    EXPECT_EQ(d.integerForKey("number"), 7);
    EXPECT_EQ(d.integerForKey("flag"), 1);
    EXPECT_EQ(d.integerForKey("absent"), 0);

    EXPECT_FALSE(d.stringForKey("absent").has_value());
    EXPECT_EQ(d.stringForKey("number"), "7");
    EXPECT_FALSE(d.stringForKey("flag").has_value());

    EXPECT_TRUE(d.boolForKey("flag"));
    EXPECT_TRUE(d.boolForKey("yes"));
    EXPECT_TRUE(d.boolForKey("one"));
    EXPECT_FALSE(d.boolForKey("zero"));
    EXPECT_FALSE(d.boolForKey("absent"));
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

    plist::Value edited = plist::Value::dictionary();
    edited.set("selectedInterfaceOption", plist::Value::string("1"));
    edited.set("DisableUSBConnectedPersonalHotspot", plist::Value::boolean(true));
    writeFile(path, plist::toXml(edited));
    EXPECT_EQ(d.integerForKey("selectedInterfaceOption"), 1);
    EXPECT_TRUE(d.boolForKey("DisableUSBConnectedPersonalHotspot"));

    // A local change made afterwards is merged with the outside edit when flushed.
    d.setObject(plist::Value::string("1"), "enableWireless");
    ASSERT_TRUE(d.synchronize());
    auto onDisk = plist::parse(readFile(path));
    ASSERT_TRUE(onDisk);
    EXPECT_NE(onDisk->find("DisableUSBConnectedPersonalHotspot"), nullptr);
    EXPECT_NE(onDisk->find("enableWireless"), nullptr);
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
                d.setObject(plist::Value::string(std::string(static_cast<size_t>(i % 5000), 'x')), "big");
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
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            UserDefaults d(path, [](const std::string&) {});
            for (int i = 1; i <= kWrites; ++i) {
                d.setObject(plist::Value::string(std::to_string(i)), "k" + std::to_string(p));
                if (!d.synchronize()) ::_exit(1);
            }
            ::_exit(0);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
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
