#pragma once
// Files this process created and still holds open, each under the path it
// was created at. A copy from such a path reads the file this process wrote,
// even when another process has since removed the name or put another file
// there (two broadcasts at once share the temporary recording's name).

#include <string>
#include <string_view>

#include "UniqueDescriptor.h"

namespace platform::files {

// Keeps `fd`, a readable descriptor of the file created at `path`, known for
// as long as the record lives; closes it when the record goes.
class CreatedFileRecord {
public:
    CreatedFileRecord(std::string path, UniqueDescriptor fd);
    ~CreatedFileRecord();
    CreatedFileRecord(const CreatedFileRecord&) = delete;
    CreatedFileRecord& operator=(const CreatedFileRecord&) = delete;

    const std::string& path() const { return path_; }
    int descriptor() const { return fd_.get(); }

private:
    std::string path_;
    UniqueDescriptor fd_;
};

// The descriptor (still owned by its record) of the file this process most
// recently created at `path` and still holds, or -1.
int descriptorOfCreatedFile(std::string_view path);

}  // namespace platform::files
