#pragma once
// A private temporary directory for one test, removed with its contents.

#include <cstdlib>
#include <filesystem>
#include <string>

namespace testing_support {

class TempDirectory {
public:
    TempDirectory() : path_(std::filesystem::temp_directory_path() / "recorder-test-XXXXXX") {
        if (::mkdtemp(path_.data()) == nullptr) std::abort();
    }
    ~TempDirectory() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

}  // namespace testing_support
