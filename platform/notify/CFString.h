#pragma once
// Constant strings: CFSTR("text") names one immortal object per literal.

#include <cstddef>
#include <string_view>

#include "CFBase.h"

struct __CFString {
    __CFRuntimeBase base{CFTypeID::String};
    std::string_view text;

    constexpr explicit __CFString(std::string_view t) : text(t) {}
};

namespace cf {
template <size_t N>
struct Literal {
    char chars[N]{};
    constexpr Literal(const char (&s)[N]) {
        for (size_t i = 0; i < N; ++i) chars[i] = s[i];
    }
};
template <Literal L>
inline constexpr __CFString constantString{std::string_view(L.chars, sizeof(L.chars) - 1)};
}  // namespace cf
#define CFSTR(literal) (&::cf::constantString<::cf::Literal(literal)>)

inline std::string_view CFStringGetText(CFStringRef string) {
    return string != nullptr ? string->text : std::string_view{};
}
