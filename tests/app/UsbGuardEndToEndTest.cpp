// The hotspot guard through the built program: the inventory of captured
// macOS output finds the "iPhone USB" port, and the agent switches the phone in
// a fake sysfs tree to its first configuration (or, in a dry run, says so).

#include <gtest/gtest.h>

#include "tests/support/app_TestSupport.h"
#include "tests/support/usb_FakeSysfs.h"

namespace ww::test {
namespace {

class UsbGuardEndToEndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tree.addRootHub(1);
        const std::string hub = tree.addDevice("usb1", 1, externalHubSpec());
        // An identical phone that is not tethering: it must be left alone.
        idle = tree.addDevice(hub, 1, iPhoneSpec());
        phone = tree.addDevice(hub, 3, iPhoneSpec());
        tree.addNetworkInterface(phone, 2, "en6");

        tools = dir.file("tools");
        file::makeDirectories(tools);
        const std::string fixtures = std::string(WW_SOURCE_ROOT) + "/tests/fixtures/discovery/";
        const std::pair<const char*, const char*> outputs[] = {
            {"ifconfig", "ifconfig-macbook.txt"},
            {"system_profiler", "system_profiler-macbook.xml"},
            {"networksetup", "networksetup-macbook.txt"},
        };
        for (const auto& [tool, fixture] : outputs) {
            writeFile(tools + "/" + tool,
                      std::string("#!/bin/sh\ncat '") + fixtures + fixture + "'\n", 0755);
        }
        writeFile(tools + "/airport", "#!/bin/sh\nexit 0\n", 0755);
    }

    int runWirewatch(bool shutOff, const std::string& extra) {
        writePlist(dir.file("prefs.plist"),
                   {{"DisableUSBConnectedPersonalHotspot", plist::Value::boolean(shutOff)}}, 0600);
        run = runAgent(dir, "--once --wifi none --tools-dir '" + tools + "' --usb-root '" +
                                tree.root() + "' --prefs '" + dir.file("prefs.plist") +
                                "' --logs-dir '" + dir.file("logs") + "' " + extra);
        return run.status;
    }
    std::string log() { return logFilesText(dir.file("logs")); }

    TempDir dir;
    FakeSysfs tree;
    std::string idle, phone, tools;
    ProgramRun run;
};

// With the preference on, the tethering phone (not its idle twin) is switched
// to its first configuration; off or in a dry run nothing is written.
TEST_F(UsbGuardEndToEndTest, TheTetheringPhoneIsSwitchedOnlyWhenThePreferenceAsks) {
    ASSERT_EQ(runWirewatch(false, ""), 0) << run.err;  // first: the runs share the log
    EXPECT_EQ(tree.configurationValue(phone), "3\n");
    EXPECT_EQ(log().find("usbDeviceDetected"), std::string::npos) << log();
    ASSERT_EQ(runWirewatch(true, "--dry-run"), 0) << run.err;
    EXPECT_EQ(tree.configurationValue(phone), "3\n");
    EXPECT_NE(log().find("dry run: would write 2 to "), std::string::npos) << log();
    ASSERT_EQ(runWirewatch(true, ""), 0) << run.err;
    EXPECT_EQ(tree.configurationValue(phone), "2\n");
    EXPECT_EQ(tree.configurationValue(idle), "3\n");
    // The watcher's own lines go to standard error, not to the log.
    EXPECT_NE(run.err.find("added: vid = 0x05ac pid = 0x12a8"), std::string::npos);
}

}  // namespace
}  // namespace ww::test
