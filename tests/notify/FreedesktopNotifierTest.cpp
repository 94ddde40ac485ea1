// The freedesktop notifier against a real dbus-daemon on a private session
// bus, with dbusmock's notification_daemon template as the service.

#include <gtest/gtest.h>

#include "platform/linux/notify/FreedesktopNotifier.h"
#include "tests/support/common_TestSupport.h"
#include "tests/support/dbus_PrivateBus.h"
#include "tests/support/reachability_Netns.h"

namespace ww::test {
namespace {

using namespace std::chrono_literals;

class FreedesktopNotifierTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!bus.available()) GTEST_SKIP() << "no private D-Bus: " << bus.whyUnavailable();
        ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);
    }

    void startMock() {
        mock = std::make_unique<DBusMock>(
            bus,
            DBusMock::Options{"notification_daemon", "org.freedesktop.Notifications", "", false});
        if (!mock->running()) GTEST_SKIP() << mock->whyNotRunning();
    }

    // The Notify calls the mock has logged.
    std::vector<std::string> notifyCalls() {
        std::vector<std::string> calls;
        for (const std::string& line : mock->logLines(" Notify ")) {
            calls.push_back(line.substr(line.find("Notify")));
        }
        return calls;
    }

    PrivateBus bus;
    std::unique_ptr<DBusMock> mock;
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
