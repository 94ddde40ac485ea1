#include "platform/foundation/Text.h"

#include <gtest/gtest.h>

namespace ww::text {
namespace {

std::vector<std::string> lines(std::string_view s) {
    std::vector<std::string> out;
    for (auto l : splitLines(s)) out.emplace_back(l);
    return out;
}

TEST(TextTest, EveryNewlineCharacterSeparatesOnItsOwn) {
    using V = std::vector<std::string>;
    EXPECT_EQ(lines(""), V{""});
    EXPECT_EQ(lines("a"), V{"a"});
    EXPECT_EQ(lines("a\nb"), (V{"a", "b"}));
    EXPECT_EQ(lines("a\r\nb"), (V{"a", "", "b"}));
    EXPECT_EQ(lines("a\n"), (V{"a", ""}));
    EXPECT_EQ(lines("a\vb\fc\rd"), (V{"a", "b", "c", "d"}));
    EXPECT_EQ(lines("a\xC2\x85" "b"), (V{"a", "b"}));          // U+0085
    EXPECT_EQ(lines("a\xE2\x80\xA8" "b\xE2\x80\xA9" "c"), (V{"a", "b", "c"}));  // U+2028, U+2029
    EXPECT_EQ(lines("\xE2\x80\xA7"), V{"\xE2\x80\xA7"});         // U+2027 is no newline
}

TEST(TextTest, TrimRemovesUnicodeBlanksAndNewlinesAtBothEnds) {
    EXPECT_EQ(trim("  \t9 \n"), "9");
    EXPECT_EQ(trim("\xC2\xA0" "x" "\xE3\x80\x80"), "x");  // no-break space, ideographic space
    EXPECT_EQ(trim("\xE2\x80\x8A" "a b" "\xE2\x80\xA8"), "a b");
    EXPECT_EQ(trim("   "), "");
    EXPECT_EQ(trim(""), "");
    EXPECT_EQ(trim("\xC3\xA9"), "\xC3\xA9");  // é stays
    EXPECT_EQ(trim("x\xE2\x80\x8B"), "x\xE2\x80\x8B");  // zero-width space is no blank
}

TEST(TextTest, StrictUtf8Validation) {
    struct Case {
        std::string bytes;
        bool valid;
    };
    const Case cases[] = {
        {"", true},
        {"plain ascii", true},
        {"\xC3\xA9", true},
        {"\xF0\x9F\x98\x80", true},   // U+1F600
        {"\xF4\x8F\xBF\xBF", true},   // U+10FFFF
        {"\xC0\xAF", false},          // overlong "/"
        {"\xE0\x80\xAF", false},      // overlong
        {"\xED\xA0\x80", false},      // surrogate
        {"\xF4\x90\x80\x80", false},  // above U+10FFFF
        {"\xC3", false},              // truncated
        {"\x80", false},              // lone continuation
        {"\xFF", false},
        {std::string("a\0b", 3), true},
    };
    for (const auto& c : cases) EXPECT_EQ(isValidUtf8(c.bytes), c.valid) << c.bytes;
    EXPECT_FALSE(decodeUtf8("\xFF").has_value());
    EXPECT_EQ(decodeUtf8("ok"), "ok");
}

TEST(TextTest, SingleLineShowsControlCharactersAsQuestionMarks) {
    EXPECT_EQ(singleLine("Caf\xC3\xA9 5G"), "Caf\xC3\xA9 5G");
    EXPECT_EQ(singleLine("a\nb\rc\td"), "a?b?c?d");
    EXPECT_EQ(singleLine("\x1B[2J\x7F"), "?[2J?");
    EXPECT_EQ(singleLine("x\xC2\x85y\xE2\x80\xA8z"), "x?y?z");  // U+0085, U+2028
    EXPECT_EQ(singleLine("bad\xFF\xC3"), "bad??");                  // not UTF-8
    EXPECT_EQ(singleLine("\xEF\xBF\xBD"), "\xEF\xBF\xBD");            // a real U+FFFD stays
}

TEST(TextTest, SplitKeepsEmptyPieces) {
    auto parts = split("a::b:", ':');
    ASSERT_EQ(parts.size(), 4u);
    EXPECT_EQ(parts[1], "");
    EXPECT_EQ(parts[3], "");
    EXPECT_EQ(toUpperAscii("0a:bc"), "0A:BC");
    EXPECT_EQ(toLowerAscii("My iPad"), "my ipad");
}

}  // namespace
}  // namespace ww::text
