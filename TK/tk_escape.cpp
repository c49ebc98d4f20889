#include "tk_escape.h"

#include "utf8.h"

namespace {

const char hex_digits[] = "0123456789abcdef";

void append_hex(std::string& out, const char* prefix, unsigned value, int digits) {
    out += prefix;
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += hex_digits[(value >> shift) & 0xF];
}

// The code point of a well-formed sequence of two or three bytes.
unsigned code_point(const unsigned char* p, size_t length) {
    if (length == 2) return ((p[0] & 0x1Fu) << 6) | (p[1] & 0x3Fu);
    return ((p[0] & 0x0Fu) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
}

// C1 controls and the controls of the text direction.
bool shown_escaped(unsigned cp) {
    return (cp >= 0x80 && cp <= 0x9F) || (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

}  // namespace

std::string tk_escape_controls(std::string_view text, bool keep_line_feeds) {
    std::string out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* end = p + text.size();
    while (p < end) {
        const unsigned c = *p;
        if (c == '\n' && keep_line_feeds) {
            out += '\n';
            ++p;
        } else if (c < 0x20 || c == 0x7F) {
            append_hex(out, "\\x", c, 2);
            ++p;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++p;
        } else if (const size_t length = plat::utf8_sequence_length(p, end); length == 0) {
            // A byte that is no UTF-8 (a path's own bytes, for example).
            append_hex(out, "\\x", c, 2);
            ++p;
        } else {
            if (length <= 3 && shown_escaped(code_point(p, length)))
                append_hex(out, "\\u", code_point(p, length), 4);
            else
                out.append(reinterpret_cast<const char*>(p), length);
            p += length;
        }
    }
    return out;
}
