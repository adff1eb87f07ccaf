#include "NSDictionary.h"

NSDictionary::NSDictionary(std::initializer_list<Entry> entries) {
    for (const auto& [key, value] : entries) setObject(value, key);
}

void NSDictionary::setObject(NSNumber value, std::string_view key) {
    for (auto& entry : entries_) {
        if (entry.first == key) {
            entry.second = value;
            return;
        }
    }
    entries_.emplace_back(std::string(key), value);
}

std::optional<NSNumber> NSDictionary::objectForKey(std::string_view key) const {
    for (const auto& [k, v] : entries_)
        if (k == key) return v;
    return std::nullopt;
}
