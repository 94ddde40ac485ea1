#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/linux/usb/SysfsUsbRegistry.h"
#include "tests/support/usb_FakeSysfs.h"
#include "tests/support/usb_TestDoubles.h"

namespace ww::sysfs {
namespace {

using test::FakeSysfs;

class SysfsUsbRegistryTest : public ::testing::Test {
  protected:
    static std::optional<UsbDeviceEntry> find(const std::vector<UsbDeviceEntry>& list,
                                              const std::string& id) {
        for (const UsbDeviceEntry& e : list) {
            if (e.registryID == id) return e;
        }
        return std::nullopt;
    }

    FakeSysfs tree;
    const test::UsbMachine machine = test::addUsbMachine(tree);
    const std::string &phone = machine.phone, &keyboard = machine.keyboard, &stick = machine.stick;
    test::RecordingAttributeWriter writer;
    SysfsUsbRegistry registry{tree.root(), writer};
};

TEST_F(SysfsUsbRegistryTest, MissingNameAndUnreadableNumbers) {
    tree.writeFile(tree.deviceDirectory(keyboard) + "/idProduct", "c31g\n");
    std::filesystem::remove(tree.path(tree.deviceDirectory(stick) + "/product"));
    const std::vector<UsbDeviceEntry> list = registry.devices();
    ASSERT_TRUE(find(list, keyboard) && find(list, stick));
    EXPECT_EQ(find(list, keyboard)->numbers, std::nullopt);
    EXPECT_EQ(find(list, stick)->name, "");
    EXPECT_EQ(find(list, stick)->numbers, (UsbNumbers{0x0781, 0x5567}));
}

TEST_F(SysfsUsbRegistryTest, NumberTexts) {
    const struct {
        const char* text;
        std::optional<std::uint16_t> value;
    } cases[] = {
        {"05ac\n", 0x05ac},        {"05AC\n", 0x05ac},        {"0\n", 0},
        {"ffff", 0xffff},          {"", std::nullopt},        {"\n", std::nullopt},
        {"10000\n", std::nullopt}, {"5ac x\n", std::nullopt}, {"-5ac\n", std::nullopt},
    };
    for (const auto& c : cases) {
        tree.writeFile(tree.deviceDirectory(keyboard) + "/idVendor", c.text);
        const std::optional<UsbDeviceEntry> e = find(registry.devices(), keyboard);
        ASSERT_TRUE(e.has_value()) << c.text;
        EXPECT_EQ(e->numbers ? std::optional<std::uint16_t>(e->numbers->vendorID) : std::nullopt,
                  c.value)
            << '"' << c.text << '"';
    }
}

TEST_F(SysfsUsbRegistryTest, NeverLeavesTheRootOrTheDeviceSubtree) {
    // A bus entry that leads into another tree is not listed.
    FakeSysfs other;
    other.addRootHub(7);
    const std::string elsewhere = other.addDevice("usb7", 1, test::iPhoneSpec());
    other.addNetworkInterface(elsewhere, 2, "evil0");
    tree.rawLink("bus/usb/devices/7-1", other.path(other.deviceDirectory(elsewhere)));
    // A link inside the keyboard (named to come first) to the phone's interface,
    // and one to the other tree: neither gives the keyboard a name.
    tree.link(tree.deviceDirectory(keyboard) + "/0-link", tree.interfaceDirectory(phone, 2));
    tree.rawLink(tree.deviceDirectory(keyboard) + "/1-link",
                 other.path(other.interfaceDirectory(elsewhere, 2)));
    // A loop: a link to the device's own directory.
    tree.rawLink(tree.deviceDirectory(phone) + "/0-self", ".");

    const std::vector<UsbDeviceEntry> list = registry.devices();
    EXPECT_FALSE(find(list, "7-1").has_value());
    ASSERT_TRUE(find(list, keyboard).has_value());
    EXPECT_EQ(find(list, keyboard)->bsdName, std::nullopt);
    ASSERT_TRUE(find(list, phone).has_value());
    EXPECT_EQ(find(list, phone)->bsdName, "eth1");
}

TEST_F(SysfsUsbRegistryTest, SearchDepthAndSizeLimits) {
    const std::string base = tree.deviceDirectory(keyboard);
    auto nested = [](int levels) {
        std::string p;
        for (int i = 0; i < levels; ++i) p += "/d";
        return p;
    };
    // kMaxSearchDepth directories below the device are searched, no more.
    tree.makeDirectory(base + nested(SysfsUsbRegistry::kMaxSearchDepth) + "/net/deep0");
    EXPECT_EQ(find(registry.devices(), keyboard)->bsdName, "deep0");

    std::filesystem::remove_all(tree.path(base + "/d"));
    tree.makeDirectory(base + nested(SysfsUsbRegistry::kMaxSearchDepth + 1) + "/net/deep1");
    EXPECT_EQ(find(registry.devices(), keyboard)->bsdName, std::nullopt);

    // Past the directory budget the search gives up (a small budget here:
    // making thousands of folders is slow).
    std::filesystem::remove_all(tree.path(base + "/d"));
    constexpr int kBudget = 40;
    SysfsUsbRegistry small(tree.root(), writer, kBudget);
    tree.makeDirectory(base + "/c/net/late0");
    EXPECT_EQ(find(small.devices(), keyboard)->bsdName, "late0");
    // The keyboard's own directory, its two interfaces with their endpoint
    // folders, and "c" take some of the budget; "b" takes the rest.
    for (int i = 0; i < kBudget; ++i) tree.makeDirectory(base + "/b/" + std::to_string(100 + i));
    EXPECT_EQ(find(small.devices(), keyboard)->bsdName, std::nullopt);
    EXPECT_EQ(find(registry.devices(), keyboard)->bsdName, "late0");
}

TEST_F(SysfsUsbRegistryTest, OpenFailsForADeviceThatWentOrChanged) {
    const UsbDeviceEntry e = *find(registry.devices(), phone);

    // Another device now sits at the phone's bus position.
    tree.writeFile(tree.deviceDirectory(phone) + "/idProduct", "12ab\n");
    UsbResult opened;
    EXPECT_EQ(registry.openDevice(e, &opened), nullptr);
    EXPECT_EQ(opened.kind, UsbResult::Kind::Failed);
    EXPECT_EQ(opened.code, ENODEV);

    // Unplugged: the bus entry is gone.
    tree.writeFile(tree.deviceDirectory(phone) + "/idProduct", "12a8\n");
    ASSERT_NE(registry.openDevice(e, &opened), nullptr);
    std::filesystem::remove(tree.path("bus/usb/devices/" + phone));
    opened = UsbResult::success();
    EXPECT_EQ(registry.openDevice(e, &opened), nullptr);
    EXPECT_EQ(opened.code, ENODEV);

    UsbDeviceEntry bogus = e;
    for (const char* id : {"", ".", "..", "../usb1", "usb1/1-2"}) {
        bogus.registryID = id;
        EXPECT_EQ(registry.openDevice(bogus, &opened), nullptr) << id;
    }
}

TEST(SysfsUsbRegistry, MissingRootOrBusFolderListsNothing) {
    EXPECT_TRUE(SysfsUsbRegistry("/nonexistent/ww-usb-root").devices().empty());
    FakeSysfs tree;  // bus/usb/devices exists but is empty
    EXPECT_TRUE(SysfsUsbRegistry(tree.root()).devices().empty());
    std::filesystem::remove_all(tree.path("bus"));
    EXPECT_TRUE(SysfsUsbRegistry(tree.root()).devices().empty());
}

TEST(SysfsAttributeWriter, WritesOnlyExistingFilesAndNoLinks) {
    FakeSysfs tree;
    tree.writeFile("attr", "4\n");
    AttributeWriter& real = AttributeWriter::real();
    EXPECT_EQ(real.writeAttribute(tree.path("attr"), "2\n"), 0);
    EXPECT_EQ(tree.readFile("attr"), "2\n");
    EXPECT_EQ(real.writeAttribute(tree.path("missing"), "2\n"), ENOENT);
    EXPECT_FALSE(std::filesystem::exists(tree.path("missing")));
    std::filesystem::create_symlink("attr", tree.path("link"));
    EXPECT_EQ(real.writeAttribute(tree.path("link"), "1\n"), ELOOP);
    EXPECT_EQ(tree.readFile("attr"), "2\n");
}

}  // namespace
}  // namespace ww::sysfs
