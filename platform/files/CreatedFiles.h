#pragma once
// Files this process created and still holds open, each under the path it
// was created at. A copy from such a path reads the file this process wrote,
// even when another process has since removed the name or put another file
// there (two broadcasts at once share the temporary recording's name).

#include <string>
#include <string_view>

#include "UniqueDescriptor.h"

namespace platform::files {

struct CreatedFileLookup {
    int fd = -1;           // still owned by its record; -1 when there is none
    std::string cutShort;  // why the file was cut short; empty when it was written to its end
};

// Keeps a read-only descriptor of the file open as `fd` (created at `path`)
// known for as long as the record lives; closes it when the record goes.
class CreatedFileRecord {
public:
    CreatedFileRecord(std::string path, int fd);
    ~CreatedFileRecord();
    CreatedFileRecord(const CreatedFileRecord&) = delete;
    CreatedFileRecord& operator=(const CreatedFileRecord&) = delete;

    // Notes why writing the file stopped before its end (a full disk, a
    // file-size limit); a hand-over of the file carries the reason on.
    void noteCutShort(std::string reason);

    const std::string& path() const { return path_; }
    int descriptor() const { return fd_.get(); }

private:
    friend CreatedFileLookup createdFileAt(std::string_view path);
    std::string path_;
    UniqueDescriptor fd_;
    std::string cutShort_;  // guarded by the records' lock
};

// The file this process most recently created at `path` and still holds.
CreatedFileLookup createdFileAt(std::string_view path);

}  // namespace platform::files
