#pragma once
// An ordered dictionary of typed numbers, as used for writer output settings.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class NSNumber {
public:
    enum class Type { UnsignedInt, UnsignedLongLong, Bool };

    static NSNumber numberWithUnsignedInt(uint32_t v) { return {Type::UnsignedInt, v}; }
    static NSNumber numberWithUnsignedLongLong(uint64_t v) { return {Type::UnsignedLongLong, v}; }
    static NSNumber numberWithBool(bool v) { return {Type::Bool, v ? 1u : 0u}; }

    Type type() const { return type_; }
    uint64_t unsignedLongLongValue() const { return value_; }
    bool boolValue() const { return value_ != 0; }

    friend bool operator==(const NSNumber&, const NSNumber&) = default;

private:
    NSNumber(Type t, uint64_t v) : type_(t), value_(v) {}
    Type type_;
    uint64_t value_;
};

// Keys keep the order in which they were first set.
class NSDictionary {
public:
    using Entry = std::pair<std::string, NSNumber>;

    NSDictionary() = default;
    NSDictionary(std::initializer_list<Entry> entries);

    // Sets `key`, replacing an existing value in place.
    void setObject(NSNumber value, std::string_view key);
    std::optional<NSNumber> objectForKey(std::string_view key) const;

    size_t count() const { return entries_.size(); }
    const std::vector<Entry>& entries() const { return entries_; }

private:
    std::vector<Entry> entries_;
};
