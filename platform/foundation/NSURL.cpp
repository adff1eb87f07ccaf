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
