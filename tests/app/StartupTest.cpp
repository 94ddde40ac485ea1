#include <gtest/gtest.h>

#include "tests/app/AgentFixture.h"

namespace ww::test {
namespace {

using StartupTest = AgentFixture;

TEST_F(StartupTest, FirstThreeLogLinesAndTheStatusItem) {
    launch();
    auto texts = capture.logger->texts();
    ASSERT_GE(texts.size(), 3u);
    EXPECT_EQ(texts[0], std::string(87, '-'));
    EXPECT_EQ(texts[1], "Starting Wirewatch Version 1.0.1");
    EXPECT_EQ(texts[2].rfind("OS Version ", 0), 0u) << texts[2];
    EXPECT_NE(texts[2].find("kernel"), std::string::npos);
    for (const auto& l : capture.logger->lines()) {
        EXPECT_EQ(l.flag, DDLogFlagInfo);
        EXPECT_EQ(l.function, "setupDDLogger");
    }

    HeadlessStatusItem* item = shell.statusItem();
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->image(), "ww-menubar.tif");
    EXPECT_EQ(item->alternateImage(), "ww-menubar-selected.tif");
    EXPECT_EQ(item->toolTip(), "Wirewatch");
    EXPECT_TRUE(item->highlightMode());
    EXPECT_EQ(item->menu(), delegate->statusMenu());
    EXPECT_EQ(shell.exitPasswordWindow.level(), 25);
    EXPECT_EQ(shell.setupPasswordButton.tag(), 0);
    EXPECT_EQ(shell.setupPasswordButton.title(), "Setup Exit Password");
    EXPECT_EQ(delegate->applicationShouldTerminate(), TerminateReply::Now);  // no password
}

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

TEST_F(StartupTest, ThePasswordGuardsQuittingUntilTyped) {
    setPref("EXIT_PASSWORD", "s3cret");
    launch();
    EXPECT_EQ(shell.setupPasswordButton.tag(), 1);
    EXPECT_EQ(shell.setupPasswordButton.title(), "Change Exit Password");
    shell.terminate();
    EXPECT_FALSE(shell.terminated());
    EXPECT_TRUE(shell.exitPasswordWindow.isVisible());

    // Closing the window and asking again shows it again.
    shell.exitPasswordWindow.close();
    shell.terminate();
    EXPECT_FALSE(shell.terminated());
    EXPECT_TRUE(shell.exitPasswordWindow.isVisible());
    EXPECT_EQ(shell.exitPasswordWindow.frontCount(), 2);

    // Wrong texts (case, prefix) change nothing; the exact text ends the process.
    shell.exitPasswordField.type("S3cret");
    shell.exitPasswordField.type("s3cre");
    EXPECT_FALSE(shell.terminated());
    shell.exitPasswordField.type("s3cret");
    EXPECT_TRUE(shell.terminated());
}

TEST_F(StartupTest, MenuActionsBringTheirWindowsToTheFront) {
    launch();
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
