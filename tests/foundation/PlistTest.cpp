#include "platform/foundation/Plist.h"

#include <gtest/gtest.h>

namespace ww::plist {
namespace {

TEST(PlistTest, RoundTripsEveryType) {
    Value d = Value::dictionary();
    d.set("s", Value::string("a <b> & \"c\""));
    d.set("i", Value::integer(-42));
    d.set("r", Value::real(0.5));
    d.set("b", Value::boolean(false));
    d.set("data", Value::data(std::string("\x00\x01\xFF", 3)));
    Value a;
    a.append(Value::string("x"));
    a.append(Value::integer(7));
    d.set("a", a);
    auto back = parse(toXml(d));
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, d);
}

TEST(PlistTest, RejectsWhatIsNoPropertyList) {
    for (std::string bad : {std::string(), std::string("not a plist"), std::string("<plist><dict><key>a</key>"),
                            std::string("\x00\x01", 2)}) {
        std::string error;
        EXPECT_FALSE(parse(bad, &error)) << bad;
        EXPECT_FALSE(error.empty());
    }
}

TEST(PlistTest, DescriptionLooksLikeThePlatformsObjectDescription) {
    Value d = Value::dictionary();
    d.set("bsdName", Value::string("en7"));
    d.set("vendorID", Value::integer(1452));
    d.set("deviceName", Value::string("iPhone"));
    EXPECT_EQ(d.description(), "{\n    bsdName = en7;\n    deviceName = iPhone;\n    vendorID = 1452;\n}");
    EXPECT_EQ(Value::string("two words").description(), "\"two words\"");
    EXPECT_EQ(Value::array().description(), "(\n)");
}

}  // namespace
}  // namespace ww::plist
