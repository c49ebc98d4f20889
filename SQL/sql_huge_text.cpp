#include "sql_huge_text.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "utf8.h"

bool sql_huge_reads_as_text(size_t length, sql_value_pieces& pieces) {
    constexpr size_t piece = sql_huge_text_piece;
    std::vector<char> buf(piece + 4);
    size_t carry = 0;  // bytes of a character cut by the last piece
    bool hex = length >= 2;
    for (size_t offset = 0; offset < length;) {
        const size_t n = std::min<size_t>(piece, length - offset);
        pieces.read(buf.data() + carry, n, offset);
        if (std::memchr(buf.data() + carry, 0, n)) return false;
        const size_t total = carry + n;
        offset += n;
        // The last character may go on in the next piece.
        size_t cut = total;
        if (offset < length) {
            for (size_t back = 1; back <= 4 && back <= total; ++back) {
                if ((static_cast<unsigned char>(buf[total - back]) & 0xC0) != 0x80) {
                    cut = total - back;
                    break;
                }
            }
        }
        const std::string_view checked(buf.data(), cut);
        if (!plat::utf8_valid(checked)) return false;
        for (size_t k = 0; hex && k < checked.size(); ++k) {
            const size_t at = offset - n - carry + k;  // position in the value
            const char ch = checked[k];
            if (at == 0) hex = ch == '0';
            else if (at == 1) hex = ch == 'x' || ch == 'X';
            else hex = (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F');
        }
        carry = total - cut;
        std::memmove(buf.data(), buf.data() + cut, carry);
    }
    return !hex;
}
