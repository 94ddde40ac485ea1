#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/linux/usb/UsbDescriptors.h"
#include "tests/support/usb_FakeSysfs.h"

namespace ww::sysfs {
namespace {

using test::iPhoneSpec;
using test::usbDescriptors;

// Four blocks of different lengths whose values are 2, 1, 4, 3: each value
// is there, and right, once its block's 9-byte header is whole.
TEST(UsbDescriptors, WalksConfigurationBlocksByTheirTotalLengthInFilesCutAnywhere) {
    const std::string d = usbDescriptors(iPhoneSpec());
    EXPECT_EQ(static_cast<unsigned char>(d[23]), 2) << "the first value sits at file offset 23";
    // Where each block starts: after the device descriptor, then by total length.
    std::size_t starts[4];
    std::size_t offset = 18;
    for (std::size_t& s : starts) {
        s = offset;
        offset += static_cast<unsigned char>(d[offset + 2]) |
                  (static_cast<unsigned char>(d[offset + 3]) << 8);
    }
    ASSERT_EQ(offset, d.size());

    const int values[] = {2, 1, 4, 3};
    for (std::size_t len = 0; len <= d.size(); ++len) {
        const std::string cut = d.substr(0, len);
        for (std::size_t index = 0; index < 4; ++index) {
            const auto value = configurationValueAt(cut, index);
            if (len >= starts[index] + 9) {
                EXPECT_EQ(value, values[index]) << "length " << len << " index " << index;
            } else {
                EXPECT_EQ(value, std::nullopt) << "length " << len << " index " << index;
            }
        }
        EXPECT_EQ(configurationValueAt(cut, 4), std::nullopt);
    }
}

TEST(UsbDescriptors, MalformedFiles) {
    const std::string good = usbDescriptors(iPhoneSpec());
    auto setTotal = [](std::string& d, unsigned total) {
        d[20] = static_cast<char>(total & 0xff);
        d[21] = static_cast<char>(total >> 8);
    };
    struct Case {
        const char* what;
        std::function<void(std::string&)> damage;
        std::size_t index;
    };
    const Case cases[] = {
        {"device descriptor length", [](std::string& d) { d[0] = 9; }, 0},
        {"device descriptor type", [](std::string& d) { d[1] = 2; }, 0},
        {"configuration type", [](std::string& d) { d[19] = 4; }, 0},
        {"configuration header length", [](std::string& d) { d[18] = 8; }, 0},
        // A total length of 0 would walk in place forever.
        {"zero total length", [&](std::string& d) { setTotal(d, 0); }, 1},
        {"total length below the header", [&](std::string& d) { setTotal(d, 5); }, 1},
        // A first block running past the end hides every later block.
        {"total length past the end", [&](std::string& d) { setTotal(d, 0xffff); }, 1},
    };
    for (const Case& c : cases) {
        std::string d = good;
        c.damage(d);
        EXPECT_EQ(configurationValueAt(d, c.index), std::nullopt) << c.what;
    }
    // The first block's own header is enough for its value.
    std::string d = good;
    setTotal(d, 0xffff);
    EXPECT_EQ(configurationValueAt(d, 0), 2);
}

}  // namespace
}  // namespace ww::sysfs
