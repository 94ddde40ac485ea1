#include "platform/foundation/Plist.h"

#include <gtest/gtest.h>

namespace ww::plist {
namespace {

TEST(PlistTest, ParsesTheShapesTheToolsPrint) {
    const char* xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<array><dict>
  <key>_items</key>
  <array>
    <dict><key>interface</key><string>en0</string><key>spnetwork_service_order</key><integer>-1</integer>
          <key>ok</key><true/><key>rate</key><real>866.7</real></dict>
  </array>
</dict></array>
</plist>)";
    std::string error;
    auto v = parse(xml, &error);
    ASSERT_TRUE(v) << error;
    ASSERT_TRUE(v->isArray());
    const Value& item = (*(*v->arrayValue())[0].find("_items")->arrayValue())[0];
    EXPECT_EQ(*item.find("interface")->stringValue(), "en0");
    EXPECT_EQ(item.find("spnetwork_service_order")->integerValue(), -1);
    EXPECT_EQ(item.find("ok")->boolValue(), true);
    EXPECT_DOUBLE_EQ(*item.find("rate")->realValue(), 866.7);
    EXPECT_EQ(item.find("missing"), nullptr);
}

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
