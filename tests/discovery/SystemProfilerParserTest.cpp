#include <gtest/gtest.h>

#include "DiscoveryTestSupport.h"
#include "discovery/SystemProfilerParser.h"

namespace ww {
namespace {

using plist::Value;

Value service(const std::optional<std::string>& interface, const std::string& name) {
    Value s = Value::dictionary();
    if (interface) s.set("interface", Value::string(*interface));
    s.set("_name", Value::string(name));
    s.set("type", Value::string("Ethernet"));
    return s;
}

std::string document(Value::Array sections) {
    return plist::toXml(Value::array(std::move(sections)));
}

Value section(Value::Array items) {
    Value s = Value::dictionary();
    s.set("_dataType", Value::string("SPNetworkDataType"));
    s.set("_items", Value::array(std::move(items)));
    return s;
}

TEST(SystemProfilerParser, ShapesOfTheDocument) {
    Value notDictionary = Value::string("en0");
    Value numberInterface = Value::dictionary();
    numberInterface.set("interface", Value::integer(5));
    Value noItems = Value::dictionary();
    Value itemsNotArray = Value::dictionary();
    itemsNotArray.set("_items", Value::string("x"));
    const std::vector<std::tuple<const char*, std::string, std::vector<std::string>>> cases = {
        {"services under their interface; one without is left out",
         document({section({service("en0", "Wi-Fi"), service("en5", "LAN"), service({}, "VPN")})}),
         {"en0=Wi-Fi", "en5=LAN"}},
        {"a later service for the same interface wins",
         document({section({service("en0", "First"), service("en0", "Second")})}),
         {"en0=Second"}},
        {"only the first section counts",
         document({section({service("en0", "A")}), section({service("en9", "B")})}),
         {"en0=A"}},
        // Odd shapes give empty tables without an error.
        {"root is a dictionary", plist::toXml(section({service("en0", "A")})), {}},
        {"root is an empty array", document({}), {}},
        {"first section is no dictionary", document({Value::string("x"), section({})}), {}},
        {"no _items", document({noItems}), {}},
        {"_items is no array", document({itemsNotArray}), {}},
        {"elements that are no dictionary or have no text interface",
         document({section({notDictionary, numberInterface})}),
         {}},
    };
    for (const auto& [what, text, expected] : cases) {
        std::string error;
        std::vector<std::string> got;
        for (const auto& [name, v] : parseSystemProfilerOutput(text, &error)) {
            got.push_back(name + "=" + *v.find("_name")->stringValue());
        }
        EXPECT_EQ(got, expected) << what;
        EXPECT_TRUE(error.empty()) << what;
    }
}

TEST(SystemProfilerParser, TextThatIsNoPropertyListIsAnError) {
    for (std::optional<std::string> text :
         {std::optional<std::string>("not a plist"), std::optional<std::string>(""),
          std::optional<std::string>(std::nullopt),
          std::optional<std::string>("<?xml version=\"1.0\"?><plist><array><dict><key>")}) {
        std::string error;
        EXPECT_TRUE(parseSystemProfilerOutput(text, &error).empty());
        EXPECT_FALSE(error.empty()) << text.value_or("(absent)");
    }
}

// Found by fuzzing: libplist aborts the whole program on a key or string that
// holds a NUL byte, raw or written as a character reference.
TEST(SystemProfilerParser, NulBytesNeverAbort) {
    auto plistWith = [](const std::string& body) {
        return "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><dict>" + body +
               "</dict></array></plist>";
    };
    auto items = [&](const std::string& interface) {
        return plistWith("<key>_items</key><array><dict><key>interface</key><string>" + interface +
                         "</string></dict></array>");
    };
    const std::vector<std::string> texts = {
        plistWith(std::string("<key>a\0b</key><string>x</string>", 32)),
        items(std::string("e\0n0", 4)), plistWith("<key>a&#0;b</key><string>x</string>"),
        items("e&#0;n0"), items("e&#x0;n0")};
    for (const auto& text : texts) {
        std::string error;
        auto table = parseSystemProfilerOutput(text, &error);
        for (const auto& [name, service] : table) {
            EXPECT_EQ(*service.find("interface")->stringValue(), name);
        }
    }
}

TEST(SystemProfilerParser, ExecuteLogsTheParseErrorOnce) {
    CommandTable commands;
    commands.systemProfiler = "echo garbage";
    test::LogCapture log;
    EXPECT_TRUE(executeAndParseSystemProfilerCommand(commands).empty());
    ASSERT_EQ(log.texts().size(), 1u);
    EXPECT_TRUE(log.texts()[0].starts_with("Error: ")) << log.texts()[0];
    // A missing tool: its error text and the parse error.
    commands.systemProfiler = "/nonexistent/system_profiler -xml SPNetworkDataType";
    EXPECT_TRUE(executeAndParseSystemProfilerCommand(commands).empty());
    EXPECT_EQ(log.linesContaining("Error: ").size(), 2u);
    EXPECT_EQ(log.linesContaining("error is ").size(), 1u);
}

}  // namespace
}  // namespace ww
