#pragma once
// The path this process last asked the file services to remove. A caller
// that removes a name and then makes a new file there (the recorder's set-up
// and its hand-over do) owns that name: whatever is at it by then was put
// there meanwhile by another process doing the same, and is replaced rather
// than refused, so of two broadcasts doing the same at once neither fails.

#include <string>
#include <string_view>

namespace platform::files {

void noteRemovalAsked(std::string_view path);

// Whether `path` is the last removal asked for; forgets it either way, so a
// name is taken over at most by the first file made there after its removal.
bool takeRemovalAsked(std::string_view path);

}  // namespace platform::files
