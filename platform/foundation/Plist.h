#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace ww::plist {

// A property-list value tree (the stand-in for the platform's property-list
// objects): null, boolean, integer, real, string, data, date, array, dictionary.
class Value {
public:
    enum class Type { Null, Boolean, Integer, Real, String, Data, Date, Array, Dictionary };
    using Array = std::vector<Value>;
    using Dictionary = std::map<std::string, Value>;

    Value() = default;
    static Value boolean(bool b);
    static Value integer(std::int64_t i);
    static Value real(double d);
    static Value string(std::string s);
    static Value data(std::string bytes);
    static Value date(double secondsSince2001);
    static Value array(Array a = {});
    static Value dictionary(Dictionary d = {});

    Type type() const { return m_type; }
    bool isNull() const { return m_type == Type::Null; }
    bool isString() const { return m_type == Type::String; }
    bool isArray() const { return m_type == Type::Array; }
    bool isDictionary() const { return m_type == Type::Dictionary; }
    bool isNumber() const { return m_type == Type::Integer || m_type == Type::Real; }

    // Typed reads: the value when it has that type, else null / nothing.
    const std::string* stringValue() const;
    const std::string* dataValue() const;
    std::optional<double> dateValue() const;  // seconds since 2001-01-01 UTC
    std::optional<std::int64_t> integerValue() const;  // integers, and reals cut toward zero
    std::optional<double> realValue() const;           // reals and integers
    std::optional<bool> boolValue() const;             // booleans, and numbers (non-zero)
    const Array* arrayValue() const;
    const Dictionary* dictionaryValue() const;
    Array* arrayValue();
    Dictionary* dictionaryValue();

    // Dictionary lookup; null when this is no dictionary or the key is missing.
    const Value* find(const std::string& key) const;
    // Dictionary insertion or replacement; turns a null value into a dictionary.
    void set(const std::string& key, Value v);
    void erase(const std::string& key);
    // Array append; turns a null value into an array.
    void append(Value v);

    // The object-description text, in the platform's style: strings bare (quoted
    // when they hold blanks or punctuation), arrays "( ... )", dictionaries "{ k = v; }".
    std::string description() const;

    bool operator==(const Value& other) const;

private:
    Type m_type = Type::Null;
    std::variant<std::monostate, bool, std::int64_t, double, std::string, Array, Dictionary> m_v;
};

// Parses a property list in any of the formats libplist reads (XML, binary).
// On failure returns nothing and, when `error` is given, a description.
std::optional<Value> parse(std::string_view bytes, std::string* error = nullptr);

// Writes an XML property list. Null values inside containers are left out.
std::string toXml(const Value& value);

}  // namespace ww::plist
