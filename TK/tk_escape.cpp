#include "tk_escape.h"

namespace {

const char hex_digits[] = "0123456789abcdef";

void append_hex(std::string& out, const char* prefix, unsigned value, int digits) {
    out += prefix;
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += hex_digits[(value >> shift) & 0xF];
}

}  // namespace

std::string tk_escape_controls(std::string_view text, bool keep_line_feeds) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\n' && keep_line_feeds) {
            out += '\n';
        } else if (c < 0x20 || c == 0x7F) {
            append_hex(out, "\\x", c, 2);
        } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            // U+0080..U+009F in UTF-8.
            append_hex(out, "\\u", static_cast<unsigned char>(text[i + 1]), 4);
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}
