#include "platform/foundation/Plist.h"

#include <plist/plist.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "platform/foundation/Format.h"

namespace ww::plist {

Value Value::boolean(bool b) {
    Value v;
    v.m_type = Type::Boolean;
    v.m_v = b;
    return v;
}
Value Value::integer(std::int64_t i) {
    Value v;
    v.m_type = Type::Integer;
    v.m_v = i;
    return v;
}
Value Value::real(double d) {
    Value v;
    v.m_type = Type::Real;
    v.m_v = d;
    return v;
}
Value Value::string(std::string s) {
    Value v;
    v.m_type = Type::String;
    v.m_v = std::move(s);
    return v;
}
Value Value::data(std::string bytes) {
    Value v;
    v.m_type = Type::Data;
    v.m_v = std::move(bytes);
    return v;
}
Value Value::date(double secondsSince2001) {
    Value v;
    v.m_type = Type::Date;
    v.m_v = secondsSince2001;
    return v;
}
Value Value::array(Array a) {
    Value v;
    v.m_type = Type::Array;
    v.m_v = std::move(a);
    return v;
}
Value Value::dictionary(Dictionary d) {
    Value v;
    v.m_type = Type::Dictionary;
    v.m_v = std::move(d);
    return v;
}

const std::string* Value::stringValue() const {
    return m_type == Type::String ? &std::get<std::string>(m_v) : nullptr;
}

const std::string* Value::dataValue() const {
    return m_type == Type::Data ? &std::get<std::string>(m_v) : nullptr;
}

std::optional<double> Value::dateValue() const {
    if (m_type == Type::Date) return std::get<double>(m_v);
    return std::nullopt;
}

std::optional<std::int64_t> Value::integerValue() const {
    if (m_type == Type::Integer) return std::get<std::int64_t>(m_v);
    if (m_type == Type::Real) {
        double d = std::get<double>(m_v);
        if (!std::isfinite(d)) return std::nullopt;
        if (d >= 9.2233720368547758e18) return INT64_MAX;
        if (d <= -9.2233720368547758e18) return INT64_MIN;
        return static_cast<std::int64_t>(d);
    }
    if (m_type == Type::Boolean) return std::get<bool>(m_v) ? 1 : 0;
    return std::nullopt;
}

std::optional<double> Value::realValue() const {
    if (m_type == Type::Real) return std::get<double>(m_v);
    if (m_type == Type::Integer) return static_cast<double>(std::get<std::int64_t>(m_v));
    return std::nullopt;
}

std::optional<bool> Value::boolValue() const {
    if (m_type == Type::Boolean) return std::get<bool>(m_v);
    if (m_type == Type::Integer) return std::get<std::int64_t>(m_v) != 0;
    if (m_type == Type::Real) return std::get<double>(m_v) != 0;
    return std::nullopt;
}

const Value::Array* Value::arrayValue() const {
    return m_type == Type::Array ? &std::get<Array>(m_v) : nullptr;
}
const Value::Dictionary* Value::dictionaryValue() const {
    return m_type == Type::Dictionary ? &std::get<Dictionary>(m_v) : nullptr;
}
Value::Array* Value::arrayValue() { return m_type == Type::Array ? &std::get<Array>(m_v) : nullptr; }
Value::Dictionary* Value::dictionaryValue() {
    return m_type == Type::Dictionary ? &std::get<Dictionary>(m_v) : nullptr;
}

const Value* Value::find(const std::string& key) const {
    const Dictionary* d = dictionaryValue();
    if (!d) return nullptr;
    auto it = d->find(key);
    return it == d->end() ? nullptr : &it->second;
}

void Value::set(const std::string& key, Value v) {
    if (m_type == Type::Null) *this = dictionary();
    if (auto* d = dictionaryValue()) (*d)[key] = std::move(v);
}

void Value::erase(const std::string& key) {
    if (auto* d = dictionaryValue()) d->erase(key);
}

void Value::append(Value v) {
    if (m_type == Type::Null) *this = array();
    if (auto* a = arrayValue()) a->push_back(std::move(v));
}

namespace {

// Strings print bare when they are plain words, as the platform prints them.
std::string quoteIfNeeded(const std::string& s) {
    bool plain = !s.empty();
    for (unsigned char c : s) {
        if (!(std::isalnum(c) || c == '_' || c == '.' || c == '/' || c == '$' || c >= 0x80)) {
            plain = false;
            break;
        }
    }
    if (plain) return s;
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    out += '"';
    return out;
}

}  // namespace

std::string Value::description() const {
    switch (m_type) {
        case Type::Null: return "(null)";
        case Type::Boolean: return std::get<bool>(m_v) ? "1" : "0";
        case Type::Integer: return std::to_string(std::get<std::int64_t>(m_v));
        case Type::Real: return ww::format("%g", std::get<double>(m_v));
        case Type::String: return quoteIfNeeded(std::get<std::string>(m_v));
        case Type::Data: {
            std::string out = "{length = " + std::to_string(std::get<std::string>(m_v).size()) + "}";
            return out;
        }
        case Type::Date: return ww::format("%f", std::get<double>(m_v));
        case Type::Array: {
            std::vector<std::string> items;
            for (const auto& e : std::get<Array>(m_v)) items.push_back(e.description());
            return describeList(items);
        }
        case Type::Dictionary: {
            std::vector<std::pair<std::string, std::string>> entries;
            for (const auto& [k, v] : std::get<Dictionary>(m_v)) {
                entries.emplace_back(quoteIfNeeded(k), v.description());
            }
            return describeTable(entries);
        }
    }
    return {};
}

bool Value::operator==(const Value& other) const {
    return m_type == other.m_type && m_v == other.m_v;
}

// ---- libplist bridge ----------------------------------------------------------------

namespace {

struct PlistDeleter {
    void operator()(plist_t p) const {
        if (p) plist_free(p);
    }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

struct CharDeleter {
    void operator()(char* p) const { std::free(p); }
};

constexpr int kMaxDepth = 256;  // deeper nesting is no property list we read

std::optional<Value> fromNode(plist_t node, int depth) {
    if (depth > kMaxDepth) return std::nullopt;
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            uint8_t b = 0;
            plist_get_bool_val(node, &b);
            return Value::boolean(b != 0);
        }
        case PLIST_UINT: {
            uint64_t u = 0;
            plist_get_uint_val(node, &u);
            // libplist hands negative integers back as their two's complement.
            return Value::integer(static_cast<std::int64_t>(u));
        }
        case PLIST_REAL: {
            double d = 0;
            plist_get_real_val(node, &d);
            return Value::real(d);
        }
        case PLIST_STRING: {
            // By pointer and length: the copying getter aborts on a string that
            // holds a NUL byte (possible in binary lists).
            uint64_t len = 0;
            const char* s = plist_get_string_ptr(node, &len);
            return Value::string(s ? std::string(s, len) : std::string());
        }
        case PLIST_DATA: {
            char* d = nullptr;
            uint64_t len = 0;
            plist_get_data_val(node, &d, &len);
            std::unique_ptr<char, CharDeleter> owned(d);
            return Value::data(d ? std::string(d, len) : std::string());
        }
        case PLIST_DATE: {
            int32_t sec = 0, usec = 0;
            plist_get_date_val(node, &sec, &usec);
            return Value::date(sec + usec / 1e6);
        }
        case PLIST_ARRAY: {
            Value::Array a;
            uint32_t n = plist_array_get_size(node);
            a.reserve(n);
            for (uint32_t k = 0; k < n; ++k) {
                auto child = fromNode(plist_array_get_item(node, k), depth + 1);
                if (!child) return std::nullopt;
                a.push_back(std::move(*child));
            }
            return Value::array(std::move(a));
        }
        case PLIST_DICT: {
            Value::Dictionary d;
            plist_dict_iter it = nullptr;
            plist_dict_new_iter(node, &it);
            for (;;) {
                char* key = nullptr;
                plist_t child = nullptr;
                plist_dict_next_item(node, it, &key, &child);
                if (!child) {
                    std::free(key);
                    break;
                }
                std::unique_ptr<char, CharDeleter> owned(key);
                auto v = fromNode(child, depth + 1);
                if (!v) {
                    std::free(it);
                    return std::nullopt;
                }
                d[key ? std::string(key) : std::string()] = std::move(*v);
            }
            std::free(it);
            return Value::dictionary(std::move(d));
        }
        case PLIST_KEY:
        case PLIST_UID:
        case PLIST_NONE:
        default: return Value();
    }
}

plist_t toNode(const Value& v) {
    switch (v.type()) {
        case Value::Type::Null: return nullptr;
        case Value::Type::Boolean: return plist_new_bool(*v.boolValue() ? 1 : 0);
        case Value::Type::Integer:
            return plist_new_uint(static_cast<uint64_t>(*v.integerValue()));
        case Value::Type::Real: return plist_new_real(*v.realValue());
        case Value::Type::String: return plist_new_string(v.stringValue()->c_str());
        case Value::Type::Data: {
            const std::string* d = v.dataValue();
            return plist_new_data(d->data(), d->size());
        }
        case Value::Type::Date: {
            double t = *v.dateValue();
            double whole = std::floor(t);
            return plist_new_date(static_cast<int32_t>(whole),
                                  static_cast<int32_t>((t - whole) * 1e6));
        }
        case Value::Type::Array: {
            plist_t a = plist_new_array();
            for (const auto& e : *v.arrayValue()) {
                if (plist_t n = toNode(e)) plist_array_append_item(a, n);
            }
            return a;
        }
        case Value::Type::Dictionary: {
            plist_t d = plist_new_dict();
            for (const auto& [k, e] : *v.dictionaryValue()) {
                if (plist_t n = toNode(e)) plist_dict_set_item(d, k.c_str(), n);
            }
            return d;
        }
    }
    return nullptr;
}

}  // namespace

std::optional<Value> parse(std::string_view bytes, std::string* error) {
    auto fail = [&](const char* why) -> std::optional<Value> {
        if (error) *error = why;
        return std::nullopt;
    };
    if (bytes.empty()) return fail("The data is empty: no property list to read.");
    if (bytes.size() > UINT32_MAX) return fail("The data is too large to be a property list.");
    // A text property list never holds a NUL byte, and libplist aborts on keys
    // and strings that do.
    if (!bytes.starts_with("bplist") && bytes.find('\0') != std::string_view::npos) {
        return fail("The data couldn't be read because it isn't in the correct format.");
    }
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    PlistPtr owned(root);
    if (!root) return fail("The data couldn't be read because it isn't in the correct format.");
    auto v = fromNode(root, 0);
    if (!v) return fail("The property list is nested too deeply.");
    return v;
}

std::string toXml(const Value& value) {
    PlistPtr node(toNode(value));
    if (!node) node.reset(plist_new_dict());
    char* xml = nullptr;
    uint32_t len = 0;
    plist_to_xml(node.get(), &xml, &len);
    std::string out = xml ? std::string(xml, len) : std::string();
    plist_to_xml_free(xml);
    return out;
}

}  // namespace ww::plist
