#include "platform/foundation/Format.h"

#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace ww {

namespace {

// Runs snprintf with a spec we built ourselves from checked pieces.
template <typename V>
void appendPrintf(std::string& out, const std::string& spec, V value) {
    char small[128];
    int n = std::snprintf(small, sizeof small, spec.c_str(), value);
    if (n < 0) return;
    if (static_cast<size_t>(n) < sizeof small) {
        out.append(small, static_cast<size_t>(n));
        return;
    }
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), spec.c_str(), value);
    out.append(big.data(), static_cast<size_t>(n));
}

std::int64_t asSigned(const FormatArg& a) {
    switch (a.kind) {
        case FormatArg::Kind::Signed: return a.i;
        case FormatArg::Kind::Unsigned: return static_cast<std::int64_t>(a.u);
        case FormatArg::Kind::Real: return static_cast<std::int64_t>(a.d);
        case FormatArg::Kind::Pointer:
            return static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(a.ptr));
        default: return 0;
    }
}

std::uint64_t asUnsigned(const FormatArg& a) {
    switch (a.kind) {
        case FormatArg::Kind::Signed: return static_cast<std::uint64_t>(a.i);
        case FormatArg::Kind::Unsigned: return a.u;
        case FormatArg::Kind::Real: return static_cast<std::uint64_t>(static_cast<std::int64_t>(a.d));
        case FormatArg::Kind::Pointer: return reinterpret_cast<std::uintptr_t>(a.ptr);
        default: return 0;
    }
}

double asReal(const FormatArg& a) {
    switch (a.kind) {
        case FormatArg::Kind::Signed: return static_cast<double>(a.i);
        case FormatArg::Kind::Unsigned: return static_cast<double>(a.u);
        case FormatArg::Kind::Real: return a.d;
        default: return 0;
    }
}

std::string asText(const FormatArg& a) {
    switch (a.kind) {
        case FormatArg::Kind::Text: return a.text;
        case FormatArg::Kind::Null: return "(null)";
        case FormatArg::Kind::Signed: return std::to_string(a.i);
        case FormatArg::Kind::Unsigned: return std::to_string(a.u);
        case FormatArg::Kind::Real: {
            std::string s;
            appendPrintf(s, "%g", a.d);
            return s;
        }
        case FormatArg::Kind::Pointer: {
            std::string s;
            appendPrintf(s, "%p", a.ptr);
            return s;
        }
    }
    return {};
}

// Pads a text conversion (%@, %s, %c) to its width, honouring "-".
void appendPadded(std::string& out, std::string_view text, bool leftAlign, int width) {
    size_t w = width > 0 ? static_cast<size_t>(width) : 0;
    if (text.size() >= w) {
        out.append(text);
    } else if (leftAlign) {
        out.append(text);
        out.append(w - text.size(), ' ');
    } else {
        out.append(w - text.size(), ' ');
        out.append(text);
    }
}

constexpr int kMaxWidth = 4096;  // a format never needs more; keeps odd formats cheap

// %d, %i, %u, %x, %s and %@ with no flags, width or precision: what snprintf
// would print, written directly. False (nothing consumed) for anything else.
template <typename Take>
bool appendPlain(std::string& out, char conv, Take& take, std::size_t next, std::size_t count,
                 const FormatArg* args) {
    static const FormatArg kNone{};
    const FormatArg& a = next < count ? args[next] : kNone;
    char digits[24];
    std::to_chars_result r{};
    switch (conv) {
        case 'd':
        case 'i':
            r = std::to_chars(digits, digits + sizeof digits, asSigned(a));
            break;
        case 'u':
            r = std::to_chars(digits, digits + sizeof digits, asUnsigned(a));
            break;
        case 'x':
            r = std::to_chars(digits, digits + sizeof digits, asUnsigned(a), 16);
            break;
        case 's':
        case '@':
            if (a.kind == FormatArg::Kind::Text) {
                out.append(a.text);
            } else {
                out.append(asText(a));
            }
            take();
            return true;
        default:
            return false;
    }
    out.append(digits, r.ptr);
    take();
    return true;
}

}  // namespace

std::string formatArgs(std::string_view fmt, const FormatArg* args, std::size_t count) {
    std::string out;
    formatArgsInto(out, fmt, args, count);
    return out;
}

void formatArgsInto(std::string& out, std::string_view fmt, const FormatArg* args,
                    std::size_t count) {
    out.reserve(out.size() + fmt.size() + 16 * count);
    size_t next = 0;
    static const FormatArg kNone{};
    auto take = [&]() -> const FormatArg& { return next < count ? args[next++] : kNone; };

    size_t i = 0;
    while (i < fmt.size()) {
        char c = fmt[i];
        if (c != '%') {
            size_t j = fmt.find('%', i);
            if (j == std::string_view::npos) j = fmt.size();
            out.append(fmt.substr(i, j - i));
            i = j;
            continue;
        }
        size_t start = i++;
        // The common plain conversions, without building a spec for snprintf.
        if (i < fmt.size() && appendPlain(out, fmt[i], take, next, count, args)) {
            ++i;
            continue;
        }
        std::string flags;
        while (i < fmt.size() && std::strchr("-+ #0", fmt[i]) && fmt[i] != '\0') flags += fmt[i++];
        int width = -1;
        if (i < fmt.size() && fmt[i] == '*') {
            width = static_cast<int>(asSigned(take()));
            if (width < 0) {
                flags += '-';
                width = -width;
            }
            ++i;
        } else {
            while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') {
                width = (width < 0 ? 0 : width) * 10 + (fmt[i++] - '0');
                if (width > kMaxWidth) width = kMaxWidth;
            }
        }
        int precision = -1;
        if (i < fmt.size() && fmt[i] == '.') {
            ++i;
            precision = 0;
            if (i < fmt.size() && fmt[i] == '*') {
                precision = static_cast<int>(asSigned(take()));
                ++i;
            } else {
                while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') {
                    precision = precision * 10 + (fmt[i++] - '0');
                    if (precision > kMaxWidth) precision = kMaxWidth;
                }
            }
        }
        // Length modifiers only matter to C's varargs; our arguments carry their type.
        while (i < fmt.size() && std::strchr("hlqLzjt", fmt[i]) && fmt[i] != '\0') ++i;
        if (i >= fmt.size()) {
            out.append(fmt.substr(start));  // a dangling "%" prints as written
            break;
        }
        char conv = fmt[i++];
        bool left = flags.find('-') != std::string::npos;

        std::string spec = "%" + flags;
        if (width >= 0) spec += std::to_string(width);
        if (precision >= 0) spec += "." + std::to_string(precision);

        switch (conv) {
            case '%': out += '%'; break;
            case 'd':
            case 'i': appendPrintf(out, spec + PRId64, asSigned(take())); break;
            case 'u': appendPrintf(out, spec + PRIu64, asUnsigned(take())); break;
            case 'x': appendPrintf(out, spec + PRIx64, asUnsigned(take())); break;
            case 'X': appendPrintf(out, spec + PRIX64, asUnsigned(take())); break;
            case 'o': appendPrintf(out, spec + PRIo64, asUnsigned(take())); break;
            case 'f':
            case 'F':
            case 'e':
            case 'E':
            case 'g':
            case 'G':
            case 'a':
            case 'A': appendPrintf(out, spec + conv, asReal(take())); break;
            case 'c': {
                char ch = static_cast<char>(asSigned(take()));
                appendPadded(out, std::string_view(&ch, 1), left, width);
                break;
            }
            case 'p': {
                const FormatArg& a = take();
                appendPrintf(out, "%p", a.kind == FormatArg::Kind::Pointer ? a.ptr : nullptr);
                break;
            }
            case 's':
            case '@': {
                std::string text = asText(take());
                if (conv == 's' && precision >= 0 && static_cast<size_t>(precision) < text.size()) {
                    text.resize(static_cast<size_t>(precision));
                }
                appendPadded(out, text, left, width);
                break;
            }
            default:
                // Unknown conversion: print it as written, consume nothing.
                out.append(fmt.substr(start, i - start));
                break;
        }
    }
}

std::string indentNested(const std::string& s) {
    std::string out;
    out.reserve(s.size() + 8);
    for (char c : s) {
        out += c;
        if (c == '\n') out += "    ";
    }
    return out;
}

std::string describeList(const std::vector<std::string>& items) {
    if (items.empty()) return "(\n)";
    std::string out = "(\n";
    for (size_t k = 0; k < items.size(); ++k) {
        out += "    ";
        out += indentNested(items[k]);
        out += k + 1 < items.size() ? ",\n" : "\n";
    }
    out += ")";
    return out;
}

std::string describeTable(const std::vector<std::pair<std::string, std::string>>& entries) {
    if (entries.empty()) return "{\n}";
    std::string out = "{\n";
    for (const auto& [k, v] : entries) {
        out += "    ";
        out += k;
        out += " = ";
        out += indentNested(v);
        out += ";\n";
    }
    out += "}";
    return out;
}

}  // namespace ww
