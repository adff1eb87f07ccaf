#pragma once
// Line and column (both from 1) of a byte offset in a text.

#include <cstddef>
#include <string_view>

namespace host {

struct TextPosition {
    size_t line = 1;
    size_t column = 1;
};

// The position of the byte at `offset` (0-based); offsets past the end
// give the position just after the last byte.
TextPosition positionOfOffset(std::string_view text, size_t offset);

}  // namespace host
