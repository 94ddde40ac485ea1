#include <gtest/gtest.h>

#include "tests/app/AgentFixture.h"

namespace ww::test {
namespace {

using StartupTest = AgentFixture;

TEST_F(StartupTest, DefaultsAreRegisteredButNeverWritten) {
    launch();
    EXPECT_EQ(defaults->integerForKey("selectedInterfaceOption"), 0);
    EXPECT_EQ(defaults->integerForKey("enableWireless"), 1);
    EXPECT_EQ(defaults->stringForKey("loadOnStartUp"), "0");
    EXPECT_FALSE(defaults->boolForKey("DisableUSBConnectedPersonalHotspot"));
    // Nothing was stored, so nothing was written.
    EXPECT_EQ(readFile(defaults->path()), "");
}

TEST_F(StartupTest, AnEmptyPasswordCountsAsNoneAtStartAndAtEachRequest) {
    setPref("EXIT_PASSWORD", "");
    launch();
    EXPECT_EQ(shell.setupPasswordButton.tag(), 0);
    shell.terminate();
    EXPECT_TRUE(shell.terminated());
    EXPECT_FALSE(shell.exitPasswordWindow.isVisible());
    // Set and cleared while running: each takes effect at the next request.
    setPref("EXIT_PASSWORD", "abc");
    EXPECT_EQ(delegate->applicationShouldTerminate(), TerminateReply::Cancel);
    setPref("EXIT_PASSWORD", "");
    EXPECT_EQ(delegate->applicationShouldTerminate(), TerminateReply::Now);
}

TEST_F(StartupTest, MenuActionsBringTheirWindowsToTheFront) {
    launch();
    ASSERT_NE(shell.statusItem(), nullptr);
    EXPECT_EQ(shell.statusItem()->menu(), delegate->statusMenu());
    delegate->showHideWindow();
    EXPECT_TRUE(shell.settingsWindow.isVisible());
    delegate->showHideWindow();
    EXPECT_TRUE(shell.settingsWindow.isVisible());  // despite its name it never hides
    delegate->openAboutPanel();
    EXPECT_TRUE(shell.aboutWindow.isVisible());
    EXPECT_EQ(shell.activations(), 3);
}

TEST_F(StartupTest, AMissingDefaultsResourceFallsBackToTheShippedDefaults) {
    defaultsResource = dir.file("missing.plist");
    launch();
    EXPECT_EQ(defaults->integerForKey("enableWireless"), 1);
}

}  // namespace
}  // namespace ww::test
