#include "NSURL.h"

std::string stringByAppendingPathComponent(std::string_view path, std::string_view component) {
    while (!component.empty() && component.front() == '/') component.remove_prefix(1);
    std::string joined(path);
    while (joined.size() > 1 && joined.back() == '/') joined.pop_back();
    if (component.empty()) return joined;
    if (!joined.empty() && joined.back() != '/') joined += '/';
    joined += component;
    return joined;
}

std::string NSURL::lastPathComponent() const {
    std::string_view p = path_;
    while (p.size() > 1 && p.back() == '/') p.remove_suffix(1);
    const size_t slash = p.rfind('/');
    return std::string(slash == std::string_view::npos || p.size() == 1 ? p : p.substr(slash + 1));
}

std::string NSURL::absoluteString() const {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out = "file://";
    for (unsigned char c : path_) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                           c == '/' || c == '-' || c == '_' || c == '.' || c == '~';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
    return out;
}
