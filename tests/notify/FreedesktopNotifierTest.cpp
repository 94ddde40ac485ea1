// The freedesktop notifier against a real dbus-daemon on a private session
// bus, with dbusmock's notification_daemon template as the service.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "app/Notifications.h"
#include "platform/foundation/Text.h"
#include "platform/linux/notify/FreedesktopNotifier.h"
#include "tests/support/app_ManualClock.h"
#include "tests/support/app_TestSupport.h"
#include "tests/support/reachability_Netns.h"

namespace ww::test {
namespace {

using namespace std::chrono_literals;

class FreedesktopNotifierTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::access("/usr/bin/dbus-daemon", X_OK) != 0 ||
            std::system("/usr/bin/python3 -c 'import dbusmock' 2>/dev/null") != 0) {
            GTEST_SKIP() << "needs dbus-daemon and python3-dbusmock (/usr/bin/python3)";
        }
        writeFile(dir.file("bus.conf"),
                  "<busconfig><type>session</type><listen>unix:tmpdir=" + dir.path() +
                      "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                      "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                      "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>");
        std::string cmd = "dbus-daemon --config-file='" + dir.file("bus.conf") +
                          "' --fork --print-address=1 --print-pid=1";
        FILE* p = ::popen(cmd.c_str(), "r");
        ASSERT_NE(p, nullptr);
        char line[512];
        if (std::fgets(line, sizeof line, p)) address = std::string(text::trim(line));
        if (std::fgets(line, sizeof line, p)) busPid = std::atoi(line);
        ::pclose(p);
        ASSERT_FALSE(address.empty());
        ASSERT_GT(busPid, 0);
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    }

    void TearDown() override {
        stopMock();
        if (busPid > 0) ::kill(busPid, SIGTERM);
    }

    void startMock() {
        std::vector<std::string> args = {
            "/usr/bin/python3",    "-m", "dbusmock",           "--template",
            "notification_daemon", "-l", dir.file("calls.log")};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ASSERT_EQ(::posix_spawn(&mockPid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
        // Ready once the service owns its name on the bus.
        sd_bus* bus = nullptr;
        ASSERT_GE(sd_bus_open_user(&bus), 0);
        ASSERT_TRUE(pollUntil(
            [&] {
                sd_bus_message* reply = nullptr;
                int owned = 0;
                if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                       "org.freedesktop.DBus", "NameHasOwner", nullptr, &reply, "s",
                                       "org.freedesktop.Notifications") >= 0) {
                    sd_bus_message_read(reply, "b", &owned);
                }
                sd_bus_message_unref(reply);
                return owned != 0;
            },
            after(20s)));
        sd_bus_flush_close_unref(bus);
    }

    void stopMock() {
        if (mockPid <= 0) return;
        ::kill(mockPid, SIGTERM);
        int status;
        ::waitpid(mockPid, &status, 0);
        mockPid = -1;
    }

    // The Notify calls the mock has logged.
    std::vector<std::string> notifyCalls() {
        std::vector<std::string> calls;
        const std::string log = readFile(dir.file("calls.log"));
        for (std::string_view line : text::splitLines(log)) {
            if (text::contains(line, " Notify "))
                calls.emplace_back(line.substr(line.find("Notify")));
        }
        return calls;
    }

    TempDir dir;
    std::string address;
    pid_t busPid = -1, mockPid = -1;
};

TEST_F(FreedesktopNotifierTest, NotificationsReachTheServiceOnTheSessionBus) {
    ASSERT_NO_FATAL_FAILURE(startMock());
    notify::FreedesktopNotifier notifier;
    std::string error;
    ASSERT_TRUE(notifier.notify("Wi-Fi disconnected", "Cable <eth0> & more\nlines", &error))
        << error;
    ASSERT_TRUE(pollUntil([&] { return notifyCalls().size() == 1; }, after(10s)));
    EXPECT_EQ(
        notifyCalls()[0],
        "Notify \"Wirewatch\" 0 \"network-wired\" \"Wi-Fi disconnected\" \"Cable &lt;eth0&gt; "
        "&amp; more?lines\" [] {} -1");
}

TEST_F(FreedesktopNotifierTest, TheAgentsLimitHoldsOverTheRealBus) {
    ASSERT_NO_FATAL_FAILURE(startMock());
    notify::FreedesktopNotifier notifier;
    UserDefaults store(dir.file("prefs.plist"));
    store.setObject(plist::Value::boolean(true), "NotifyFlapDamping");
    ManualClock clock;
    AgentNotifications notifications(store, clock, &notifier);
    EXPECT_TRUE(notifications.post(NotificationKind::DampingEngaged, "Wi-Fi held off", "one"));
    EXPECT_FALSE(notifications.post(NotificationKind::DampingEngaged, "Wi-Fi held off", "two"));
    EXPECT_FALSE(notifications.post(NotificationKind::WiFiCut, "Wi-Fi disconnected", "off"));
    clock.advance(60s);
    EXPECT_TRUE(notifications.post(NotificationKind::DampingEngaged, "Wi-Fi held off", "three"));
    ASSERT_TRUE(pollUntil([&] { return notifyCalls().size() == 2; }, after(10s)));
    EXPECT_TRUE(text::contains(notifyCalls()[1], "\"three\""));
}

TEST_F(FreedesktopNotifierTest, NoServiceIsAFailureAndTheNextCallReconnects) {
    notify::FreedesktopNotifier notifier;
    std::string error;
    EXPECT_FALSE(notifier.notify("Wi-Fi disconnected", "nobody listens", &error));
    EXPECT_FALSE(error.empty());

    ASSERT_NO_FATAL_FAILURE(startMock());
    EXPECT_TRUE(notifier.notify("Wi-Fi disconnected", "now someone does", &error)) << error;
    ASSERT_TRUE(pollUntil([&] { return notifyCalls().size() == 1; }, after(10s)));
}

}  // namespace
}  // namespace ww::test
