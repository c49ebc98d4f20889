#include "udb_prof_line.h"

#include "tk_utils.h"

namespace {

bool has_line_break(const std::wstring& text) { return text.find_first_of(L"\r\n") != std::wstring::npos; }

bool reads_as_section(const std::wstring& line) {
    return line.size() >= 2 && line.front() == L'[' && line.back() == L']';
}

enum class part { key, value, section };

// Escapes what the part's place in the line would change: line breaks and
// the backslash everywhere, and where the line is trimmed or split, the outer
// blanks, "=" and a leading "[".
void append_escaped(std::wstring& out, const std::wstring& text, part where) {
    const size_t first_kept = where == part::key ? text.find_first_not_of(L' ') : 0;
    const size_t last_kept = where == part::section ? std::wstring::npos : text.find_last_not_of(L' ');
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        const bool outer_blank =
            c == L' ' && ((first_kept == std::wstring::npos || i < first_kept) ||
                          (where != part::section && (last_kept == std::wstring::npos || i > last_kept)));
        if (c == L'\\')
            out += L"\\\\";
        else if (c == L'\n')
            out += L"\\n";
        else if (c == L'\r')
            out += L"\\r";
        else if (outer_blank)
            out += L"\\s";
        else if (c == L'=' && where == part::key)
            out += L"\\=";
        else if (c == L'[' && i == 0 && where == part::key)
            out += L"\\[";
        else
            out += c;
    }
}

std::wstring unescape(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        switch (text[i + 1]) {
        case L'\\': out += L'\\'; break;
        case L'n': out += L'\n'; break;
        case L'r': out += L'\r'; break;
        case L's': out += L' '; break;
        case L'=': out += L'='; break;
        case L'[': out += L'['; break;
        default:
            // Not an escape: kept as written.
            out += text[i];
            continue;
        }
        ++i;
    }
    return out;
}

// The first "=" that is not escaped.
size_t find_split(const std::wstring& line, bool escaped) {
    if (!escaped) return line.find(L'=');
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == L'\\')
            ++i;
        else if (line[i] == L'=')
            return i;
    }
    return std::wstring::npos;
}

}  // namespace

bool udb_section_reads_back(const std::wstring& name) { return !has_line_break(name); }

bool udb_pair_reads_back(const std::wstring& key, const std::wstring& value) {
    if (has_line_break(key) || has_line_break(value)) return false;
    if (key.find(L'=') != std::wstring::npos || tk_trim(key) != key) return false;
    if (!value.empty() && value.back() == L' ') return false;
    return !reads_as_section(key + L"=" + value);
}

bool udb_plain_reads_back(const std::wstring& text) {
    return !text.empty() && !has_line_break(text) && text.find(L'=') == std::wstring::npos &&
           tk_trim(text) == text && !reads_as_section(text);
}

std::wstring udb_section_line(const std::wstring& name, bool escaped) {
    if (!escaped) return L"[" + name + L"]";
    std::wstring out = L"[";
    append_escaped(out, name, part::section);
    return out + L"]";
}

std::wstring udb_pair_line(const std::wstring& key, const std::wstring& value, bool escaped) {
    if (!escaped) return key + L"=" + value;
    std::wstring out;
    append_escaped(out, key, part::key);
    out += L'=';
    append_escaped(out, value, part::value);
    return out;
}

std::wstring udb_plain_line(const std::wstring& text, bool escaped) {
    if (!escaped) return text;
    std::wstring out;
    append_escaped(out, text, part::key);
    return out;
}

udb_profile_line udb_parse_profile_line(const std::wstring& line, bool escaped) {
    udb_profile_line read;
    auto text = [escaped](const std::wstring& t) { return escaped ? unescape(t) : t; };
    if (reads_as_section(line)) {
        read.what = udb_profile_line::kind::section;
        read.key = text(line.substr(1, line.size() - 2));
        return read;
    }
    const size_t eq = find_split(line, escaped);
    if (eq == std::wstring::npos) {
        read.key = text(line);
        return read;
    }
    read.what = udb_profile_line::kind::pair;
    read.key = text(tk_trim(line.substr(0, eq)));
    read.value = text(line.substr(eq + 1));
    return read;
}
