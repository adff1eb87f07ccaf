#include "TextPosition.h"

#include <algorithm>

namespace host {

TextPosition positionOfOffset(std::string_view text, size_t offset) {
    offset = std::min(offset, text.size());
    const std::string_view before = text.substr(0, offset);
    TextPosition position;
    position.line = 1 + static_cast<size_t>(std::count(before.begin(), before.end(), '\n'));
    const size_t lastNewline = before.rfind('\n');
    position.column = lastNewline == std::string_view::npos ? offset + 1 : offset - lastNewline;
    return position;
}

}  // namespace host
