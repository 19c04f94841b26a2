#pragma once
#include <string>
#include <string_view>

namespace tralux {

// A name or text as a terminal line or a label shows it: control bytes (C0, DEL, C1), the marks that
// reorder text and the line separators are written as escapes (\n, \r, \t, \x1b, \u202e),
// as is every byte that is not valid UTF-8, so a file name cannot move the cursor, recolour
// the terminal or forge a line. Valid UTF-8 (Chinese) stays as it is; a backslash too.
// A dialog's text may keep its own line breaks.
std::string Printable(std::string_view text, bool keepLineBreaks = false);

}  // namespace tralux
