// Whether a huge binary value reads as text, decided piece by piece so that
// the value's own buffer is made once, of the kind it reads as.
#pragma once
#include <cstddef>

// Puts n bytes of a value, from offset on, into buffer; may throw, which
// ends the check.
class sql_value_pieces {
public:
    virtual void read(char* buffer, size_t n, size_t offset) = 0;

protected:
    ~sql_value_pieces() = default;
};

// The rule of a binary value that may be text: valid UTF-8 without zero
// bytes that is not "0x" and hex digits only. The value is read in pieces
// of at most sql_huge_text_piece bytes.
constexpr size_t sql_huge_text_piece = 64u << 10;
bool sql_huge_reads_as_text(size_t length, sql_value_pieces& pieces);
