#pragma once

// printf-style formatting with the object placeholder %@.
//
//   ww::format("%@ is %d dBm", ssid, rssi)
//
// %@ takes texts (std::string, string_view, C strings), absent texts
// (std::optional<std::string> without a value prints "(null)"), numbers, and
// any record with a `description()` member, directly or through a pointer
// (a null pointer prints "(null)"); lists and tables of those print in the
// property-list style:
//
//   (
//       first,
//       second
//   )
//
// and {\n    key = value;\n}. The numeric conversions %d %i %u %x %X %o %c %f %e %g %s %p
// and %% accept the flags "-+ #0", a width and a precision, and the length
// modifiers hh h l ll q z j t L. An argument that does not suit its conversion
// is converted as well as it can be; a missing argument prints nothing. Nothing
// here can read memory it was not given.

#include <concepts>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

namespace ww {

// One argument of a format call, already reduced to a plain value.
struct FormatArg {
    enum class Kind { Signed, Unsigned, Real, Text, Null, Pointer };
    Kind kind = Kind::Null;
    std::int64_t i = 0;
    std::uint64_t u = 0;
    double d = 0;
    std::string text;  // Text: the text, or the description of an object
    const void* ptr = nullptr;
};

std::string formatArgs(std::string_view format, const FormatArg* args, std::size_t count);
// The same, appended to `out` (whose capacity a caller may reuse).
void formatArgsInto(std::string& out, std::string_view format, const FormatArg* args,
                    std::size_t count);
inline std::string formatArgs(std::string_view format, const std::vector<FormatArg>& args) {
    return formatArgs(format, args.data(), args.size());
}

// ---- descriptions (what %@ prints) -------------------------------------------------

template <typename T>
concept HasDescription = requires(const T& t) {
    { t.description() } -> std::convertible_to<std::string>;
};

inline std::string describe(std::string_view s) { return std::string(s); }
inline std::string describe(const std::string& s) { return s; }
inline std::string describe(const char* s) { return s ? std::string(s) : "(null)"; }
inline std::string describe(const std::optional<std::string>& s) { return s ? *s : "(null)"; }
inline std::string describe(bool b) { return b ? "1" : "0"; }
template <typename T>
    requires(std::is_arithmetic_v<T> && !std::is_same_v<T, bool>)
std::string describe(T v) {
    if constexpr (std::is_floating_point_v<T>) {
        return formatArgs("%g", {FormatArg{FormatArg::Kind::Real, 0, 0, double(v), {}, nullptr}});
    } else {
        return std::to_string(v);
    }
}
template <HasDescription T>
std::string describe(const T& t) {
    return t.description();
}
template <typename T>
std::string describe(const std::shared_ptr<T>& p) {
    return p ? describe(*p) : "(null)";
}
template <typename T>
std::string describe(const T* p)
    requires HasDescription<T>
{
    return p ? describe(*p) : "(null)";
}

// Indents every line after the first by four blanks, for nesting.
std::string indentNested(const std::string& s);
std::string describeList(const std::vector<std::string>& items);
std::string describeTable(const std::vector<std::pair<std::string, std::string>>& entries);

template <typename T>
std::string describe(const std::vector<T>& v) {
    std::vector<std::string> items;
    items.reserve(v.size());
    for (const auto& e : v) items.push_back(describe(e));
    return describeList(items);
}
template <typename K, typename V>
std::string describe(const std::map<K, V>& m) {
    std::vector<std::pair<std::string, std::string>> entries;
    for (const auto& [k, v] : m) entries.emplace_back(describe(k), describe(v));
    return describeTable(entries);
}
template <typename K, typename V>
std::string describe(const std::unordered_map<K, V>& m) {
    std::vector<std::pair<std::string, std::string>> entries;
    for (const auto& [k, v] : m) entries.emplace_back(describe(k), describe(v));
    return describeTable(entries);
}

// ---- turning arguments into FormatArg ---------------------------------------------------

namespace detail {

template <typename T>
FormatArg toFormatArg(const T& v) {
    using D = std::decay_t<T>;
    FormatArg a;
    if constexpr (std::is_same_v<D, bool>) {
        a.kind = FormatArg::Kind::Signed;
        a.i = v ? 1 : 0;
    } else if constexpr (std::is_integral_v<D> && std::is_signed_v<D>) {
        a.kind = FormatArg::Kind::Signed;
        a.i = static_cast<std::int64_t>(v);
    } else if constexpr (std::is_integral_v<D>) {
        a.kind = FormatArg::Kind::Unsigned;
        a.u = static_cast<std::uint64_t>(v);
    } else if constexpr (std::is_enum_v<D>) {
        a.kind = FormatArg::Kind::Signed;
        a.i = static_cast<std::int64_t>(v);
    } else if constexpr (std::is_floating_point_v<D>) {
        a.kind = FormatArg::Kind::Real;
        a.d = static_cast<double>(v);
    } else if constexpr (std::is_array_v<T>) {
        // A character array (a string literal): never null.
        a.kind = FormatArg::Kind::Text;
        a.text = std::string_view(v, std::char_traits<char>::length(v));
    } else if constexpr (std::is_same_v<D, const char*> || std::is_same_v<D, char*>) {
        if (v != nullptr) {
            a.kind = FormatArg::Kind::Text;
            a.text = v;
        }
    } else if constexpr (std::is_same_v<D, std::nullptr_t>) {
        // Null
    } else if constexpr (std::is_same_v<D, std::optional<std::string>>) {
        if (v) {
            a.kind = FormatArg::Kind::Text;
            a.text = *v;
        }
    } else if constexpr (std::is_pointer_v<D> && !HasDescription<std::remove_pointer_t<D>>) {
        a.kind = FormatArg::Kind::Pointer;
        a.ptr = static_cast<const void*>(v);
    } else {
        a.kind = FormatArg::Kind::Text;
        a.text = describe(v);
        if constexpr (requires { v == nullptr; }) {
            if (v == nullptr) a.kind = FormatArg::Kind::Null;
        }
    }
    return a;
}

}  // namespace detail

template <typename... Args>
void formatInto(std::string& out, std::string_view fmt, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) {
        formatArgsInto(out, fmt, nullptr, 0);
    } else {
        const FormatArg converted[] = {detail::toFormatArg(args)...};
        formatArgsInto(out, fmt, converted, sizeof...(Args));
    }
}

template <typename... Args>
std::string format(std::string_view fmt, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) {
        return formatArgs(fmt, nullptr, 0);
    } else {
        // On the stack: a log line costs no allocation for its arguments.
        const FormatArg converted[] = {detail::toFormatArg(args)...};
        return formatArgs(fmt, converted, sizeof...(Args));
    }
}

}  // namespace ww
