#pragma once
// File URLs and path joining as the platform offers them.

#include <string>
#include <string_view>

// Joins `component` to `path` with exactly one '/' between them.
std::string stringByAppendingPathComponent(std::string_view path, std::string_view component);

class NSURL {
public:
    // A file URL for an absolute or relative path.
    static NSURL fileURLWithPath(std::string_view path) { return NSURL(path); }
    explicit NSURL(std::string_view path) : path_(path) {}

    NSURL URLByAppendingPathComponent(std::string_view component) const {
        return NSURL(stringByAppendingPathComponent(path_, component));
    }
    const std::string& path() const { return path_; }

    friend bool operator==(const NSURL&, const NSURL&) = default;

private:
    std::string path_;
};
