// Text from names and inputs made safe for a terminal.
#pragma once
#include <string>
#include <string_view>

// UTF-8 text with every control character written as an escape, so that no
// name or input can move the cursor, retitle the window, ring the bell or
// reorder what the terminal shows: C0 controls and DEL as "\x1b", C1
// controls (U+0080..U+009F) as "\u009b", the embeddings, overrides and
// isolates of the text direction (U+202A..U+202E, U+2066..U+2069) as
// "\u202e", and a byte that is not part of well-formed UTF-8 as "\xfc".
// With keep_line_feeds a line feed stays as it is (multi-line messages).
std::string tk_escape_controls(std::string_view text, bool keep_line_feeds = false);
