#include "platform/foundation/Text.h"

#include <cstdint>

namespace ww::text {

namespace {

// Decodes one code point at `i` of valid-or-not UTF-8; returns its byte length
// (at least 1) and the code point (U+FFFD for malformed bytes).
size_t decodeAt(std::string_view s, size_t i, char32_t& cp) {
    auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
        cp = b;
        return 1;
    }
    size_t len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    if (len == 1 || i + len > s.size()) {
        cp = 0xFFFD;
        return 1;
    }
    char32_t v = b & (0x7F >> len);
    for (size_t k = 1; k < len; ++k) {
        auto c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80) {
            cp = 0xFFFD;
            return 1;
        }
        v = (v << 6) | (c & 0x3F);
    }
    cp = v;
    return len;
}

bool isNewline(char32_t c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool isTrimmable(char32_t c) {
    return isNewline(c) || c == 0x09 || c == 0x20 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x202F || c == 0x205F || c == 0x3000;
}

}  // namespace

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t lineStart = 0;
    size_t i = 0;
    while (i < text.size()) {
        char32_t cp;
        size_t n = decodeAt(text, i, cp);
        if (isNewline(cp)) {
            lines.push_back(text.substr(lineStart, i - lineStart));
            lineStart = i + n;
        }
        i += n;
    }
    lines.push_back(text.substr(lineStart));
    return lines;
}

std::string_view trim(std::string_view text) {
    size_t begin = 0;
    while (begin < text.size()) {
        char32_t cp;
        size_t n = decodeAt(text, begin, cp);
        if (!isTrimmable(cp)) break;
        begin += n;
    }
    size_t end = text.size();
    while (end > begin) {
        // Step back to the start of the last code point.
        size_t k = end - 1;
        while (k > begin && (static_cast<unsigned char>(text[k]) & 0xC0) == 0x80 && end - k < 4) --k;
        char32_t cp;
        size_t n = decodeAt(text, k, cp);
        if (k + n != end || !isTrimmable(cp)) break;
        end = k;
    }
    return text.substr(begin, end - begin);
}

namespace {

// The length of the well-formed sequence at `i`, or 0 when the byte there
// starts none: no overlong forms, no surrogates, nothing above U+10FFFF.
size_t wellFormedLength(std::string_view s, size_t i) {
    const size_t n = s.size();
    auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) return 1;
    auto cont = [&](size_t k) {
        return i + k < n && (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
    };
    if (b0 >= 0xC2 && b0 <= 0xDF) return cont(1) ? 2 : 0;
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        if (!cont(1) || !cont(2)) return 0;
        auto b1 = static_cast<unsigned char>(s[i + 1]);
        if (b0 == 0xE0 && b1 < 0xA0) return 0;   // overlong
        if (b0 == 0xED && b1 >= 0xA0) return 0;  // surrogate
        return 3;
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        if (!cont(1) || !cont(2) || !cont(3)) return 0;
        auto b1 = static_cast<unsigned char>(s[i + 1]);
        if (b0 == 0xF0 && b1 < 0x90) return 0;   // overlong
        if (b0 == 0xF4 && b1 >= 0x90) return 0;  // above U+10FFFF
        return 4;
    }
    return 0;
}

}  // namespace

bool isValidUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        size_t len = wellFormedLength(s, i);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

std::string replacingInvalidUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        size_t len = wellFormedLength(s, i);
        if (len == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(s.substr(i, len));
            i += len;
        }
    }
    return out;
}

std::optional<std::string> decodeUtf8(std::string bytes) {
    if (!isValidUtf8(bytes)) return std::nullopt;
    return bytes;
}

std::string toLowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string toUpperAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

bool contains(std::string_view haystack, std::string_view needle) {
    return haystack.find(needle) != std::string_view::npos;
}

std::string singleLine(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        char32_t cp;
        size_t n = decodeAt(text, i, cp);
        bool control = cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029;
        // decodeAt reads a malformed byte as U+FFFD taking one byte; a real
        // U+FFFD takes three.
        bool malformed = cp == 0xFFFD && n == 1;
        if (control || malformed) {
            out += '?';
        } else {
            out.append(text.substr(i, n));
        }
        i += n;
    }
    return out;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        size_t j = text.find(separator, start);
        if (j == std::string_view::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, j - start));
        start = j + 1;
    }
}

}  // namespace ww::text
