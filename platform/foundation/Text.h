#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ww::text {

// Splits UTF-8 text into lines at every newline character: U+000A to U+000D,
// U+0085, U+2028 and U+2029. Each one is a separator of its own, so "a\r\nb"
// gives "a", "" and "b". A text ending in a separator ends in an empty line;
// the empty text gives one empty line. The views point into `text`.
std::vector<std::string_view> splitLines(std::string_view text);

// Removes white space and newline characters from both ends: the Unicode
// space separators (U+0020, U+00A0, U+1680, U+2000 to U+200A, U+202F, U+205F,
// U+3000), the tab and the newline characters above.
std::string_view trim(std::string_view text);

// True when the bytes are well-formed UTF-8: no overlong forms, no surrogates,
// nothing above U+10FFFF, no truncated sequences.
bool isValidUtf8(std::string_view bytes);

// The bytes with each byte that is not part of a well-formed sequence (as
// isValidUtf8 judges) replaced by U+FFFD: one U+FFFD per bad byte.
std::string replacingInvalidUtf8(std::string_view bytes);

// The bytes as text when they are valid UTF-8, else absent.
std::optional<std::string> decodeUtf8(std::string bytes);

// ASCII case mapping; other bytes are left alone (the texts compared this way,
// hardware addresses and device names, are ASCII where it matters).
std::string toLowerAscii(std::string_view s);
std::string toUpperAscii(std::string_view s);

bool contains(std::string_view haystack, std::string_view needle);

// The text as one safe line: every control character (U+0000 to U+001F, U+007F
// to U+009F) and the line and paragraph separators become "?", as do bytes
// that are not UTF-8. What a network or device names itself cannot then start
// a new line or steer a terminal.
std::string singleLine(std::string_view text);

// Splits at every occurrence of `separator`, keeping empty pieces.
std::vector<std::string_view> split(std::string_view text, char separator);

}  // namespace ww::text
