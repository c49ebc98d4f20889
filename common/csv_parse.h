// The reading state machine of the CSV format (RFC 4180): a field that starts
// with a double quote is quoted; inside quotes a doubled quote is one quote
// character and delimiters and line breaks are data; a delimiter is matched
// and stepped over as a whole. Lenient with foreign files: a quote inside a
// bare field is data, and text after a closing quote is kept.
#pragma once
#include <cstdint>
#include <string_view>

enum class csv_state : uint8_t {
    field_start,  // nothing of the current field seen yet
    bare,         // inside a field that did not start with a quote
    quoted,       // inside quotes
    quote_seen,   // a quote inside quotes: closing, or the first of a pair
};

// Runs the machine over text from state st and returns the state after it.
// on_char(ch) receives every character of field content; on_field() is
// called at every delimiter (the end of a field that is not the last).
template <class Ch, class OnChar, class OnField>
csv_state csv_scan(std::basic_string_view<Ch> text, std::basic_string_view<Ch> delim, csv_state st,
                   OnChar&& on_char, OnField&& on_field) {
    const size_t n = text.size();
    const size_t dn = delim.size();
    size_t i = 0;
    while (i < n) {
        const Ch c = text[i];
        if (st == csv_state::quoted) {
            if (c == Ch('"'))
                st = csv_state::quote_seen;
            else
                on_char(c);
            ++i;
            continue;
        }
        if (st == csv_state::quote_seen && c == Ch('"')) {
            on_char(c);
            st = csv_state::quoted;
            ++i;
            continue;
        }
        if (st == csv_state::field_start && c == Ch('"')) {
            st = csv_state::quoted;
            ++i;
            continue;
        }
        if (dn != 0 && c == delim[0] && n - i >= dn && text.substr(i, dn) == delim) {
            on_field();
            st = csv_state::field_start;
            i += dn;
            continue;
        }
        on_char(c);
        st = csv_state::bare;
        ++i;
    }
    return st;
}

// The state only (for finding where a record ends).
template <class Ch>
csv_state csv_scan_state(std::basic_string_view<Ch> text, std::basic_string_view<Ch> delim, csv_state st) {
    return csv_scan(text, delim, st, [](Ch) {}, [] {});
}
