// Whether a huge binary value reads as text, decided piece by piece so that
// the value's own buffer is made once, of the kind it reads as.
#pragma once
#include <cstddef>
#include <functional>

// The rule of a binary value that may be text: valid UTF-8 without zero
// bytes that is not "0x" and hex digits only. read(buffer, n, offset) puts
// the value's n bytes from offset into buffer (n is at most
// sql_huge_text_piece); it may throw, which ends the check.
constexpr size_t sql_huge_text_piece = 64u << 10;
bool sql_huge_reads_as_text(size_t length, const std::function<void(char* buffer, size_t n, size_t offset)>& read);
