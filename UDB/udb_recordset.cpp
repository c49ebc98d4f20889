#include "udb_recordset.h"

#include "tk_excep.h"
#include "tk_log.h"
#include "tk_utils.h"
#include "utf8.h"

namespace {

bool is_number_type(VARTYPE t) {
    switch (t) {
        case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY: case VT_BOOL: case VT_DECIMAL:
        case VT_I1: case VT_UI1: case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8:
            return true;
        default:
            return false;
    }
}

bool is_binary_vartype(VARTYPE t) { return t == VT_BLOB || t == VT_BLOB_OBJECT || t == VT_BYTE_ARRAY; }

bool is_digit(wchar_t c) { return c >= L'0' && c <= L'9'; }

bool is_hex_digit(wchar_t c) { return is_digit(c) || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'); }

// A decimal number: optional sign, digits with an optional point, optional exponent.
bool is_number_text(const std::wstring& s) {
    size_t i = 0, n = s.size();
    if (i < n && (s[i] == L'+' || s[i] == L'-')) ++i;
    size_t digits = 0;
    while (i < n && is_digit(s[i])) ++i, ++digits;
    if (i < n && s[i] == L'.') {
        ++i;
        while (i < n && is_digit(s[i])) ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < n && (s[i] == L'e' || s[i] == L'E')) {
        ++i;
        if (i < n && (s[i] == L'+' || s[i] == L'-')) ++i;
        size_t exp = 0;
        while (i < n && is_digit(s[i])) ++i, ++exp;
        if (exp == 0) return false;
    }
    return i == n;
}

// "0x" followed by at least one hex digit.
bool is_hex_literal(const std::wstring& s) {
    if (s.size() < 3 || s[0] != L'0' || (s[1] != L'x' && s[1] != L'X')) return false;
    for (size_t i = 2; i < s.size(); ++i)
        if (!is_hex_digit(s[i])) return false;
    return true;
}

// "0x" and the hex digits of the text's UTF-8 bytes.
std::wstring to_hex_literal(const std::wstring& s) {
    std::string bytes = plat::utf8_encode(s);
    std::wstring hex(bytes.size() * 2 + 1, L'\0');
    tk_bytes_to_hex(static_cast<uint32_t>(bytes.size()), reinterpret_cast<const unsigned char*>(bytes.data()),
                    hex.data());
    hex.pop_back();
    return L"0x" + hex;
}

// One pass, so "&amp;lt;" stays "&lt;".
std::wstring decode_entities(const std::wstring& s) {
    std::wstring out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        if (s.compare(i, 4, L"&lt;") == 0) {
            out.push_back(L'<');
            i += 4;
        } else if (s.compare(i, 4, L"&gt;") == 0) {
            out.push_back(L'>');
            i += 4;
        } else if (s.compare(i, 5, L"&amp;") == 0) {
            out.push_back(L'&');
            i += 5;
        } else {
            out.push_back(s[i++]);
        }
    }
    return out;
}

std::wstring doubled(const std::wstring& s, wchar_t q) {
    std::wstring out;
    out.reserve(s.size() + 2);
    for (wchar_t c : s) {
        out.push_back(c);
        if (c == q) out.push_back(q);
    }
    return out;
}

[[noreturn]] void malformed_key() { throw tk_exception(std::string("The record key is malformed."), 1); }

}  // namespace

udb_recordset::udb_recordset(udb_database* owner, const std::wstring& name, const std::wstring& query,
                             bool schema_flag)
    : query_(query), name_(name), schema_(schema_flag), owner_(owner) {}

udb_recordset::udb_recordset(udb_database* owner, const std::wstring& name, bool schema_flag)
    : name_(name), schema_(schema_flag), owner_(owner) {}

udb_recordset::udb_recordset(const std::wstring& name) : name_(name), schema_(true) {
    tk_log(2, "udb_recordset::ctor(default)");
}

udb_recordset::~udb_recordset() { tk_log(1, "udb_recordset::dtor"); }

void udb_recordset::update(const udb_record&, const std::wstring&) { tk_log(1, "udb_recordset::update2"); }

void udb_recordset::update(const udb_record&) { tk_log(1, "udb_recordset::update1"); }

udb_record* udb_recordset::get_record() { return nullptr; }

bool udb_recordset::is_eof() { return true; }

bool udb_recordset::is_query() { return !query_.empty(); }

void udb_recordset::add_index(const udb_index& index) {
    if (tk_log_wants(2)) tk_wlog(2, L"udb_recordset::add_index(%s, %d)", index.name.c_str(), key_pos_);
    if (!indexes_.is_acceptable_name(index.name)) {
        if (tk_log_wants(2)) tk_wlog(2, L"Index '%s' cannot be processed", index.name.c_str());
        return;
    }
    if (index.primary || (index.unique && key_pos_ == -1)) {
        tk_log(2, "Store primary/unique key");
        key_pos_ = static_cast<int32_t>(indexes_.size());
    }
    indexes_.push_back(index);
}

std::unique_ptr<udb_record> udb_recordset::get_key(const udb_record& record) {
    tk_log(1, "udb_recordset::get_key(that.size=%d)", static_cast<int>(record.size()));
    if (key_pos_ < 0 || static_cast<size_t>(key_pos_) >= indexes_.size())
        throw tk_exception(std::string("There's no primary/unique key"), 1);
    const std::vector<std::wstring>& key_fields = indexes_[static_cast<size_t>(key_pos_)].fields;
    tk_log(1, "u_k_flds.size=%d", static_cast<int>(key_fields.size()));
    auto result = std::make_unique<udb_record>();
    result->reserve(key_fields.size());
    for (size_t i = 0; i < key_fields.size(); ++i) {
        tk_log(1, "Step %d.1", static_cast<int>(i));
        int pos = record.find_index(key_fields[i]);
        tk_log(1, "Step %d.2", static_cast<int>(i));
        if (pos < 0) {
            if (tk_log_wants(3)) tk_wlog(3, L"Key field '%s' is not found in record", key_fields[i].c_str());
            return nullptr;
        }
        const udb_field* f = record[static_cast<size_t>(pos)];
        if (tk_log_wants(1)) tk_log(1, ">> Got key field: %s", f->to_string().c_str());
        result->push_back(new udb_field(*f));
    }
    tk_log(1, "Just before exit: result.size=%d", static_cast<int>(result->size()));
    return result;
}

std::wstring udb_recordset::get_filter_subquery(const std::wstring& key) {
    if (tk_log_wants(1)) tk_wlog(1, L"udb_recordset::get_filter_subquery(%s)", key.c_str());
    std::wstring result;
    size_t pos = 0;
    while (pos < key.size()) {
        // <name>value</name>
        if (key[pos] != L'<') malformed_key();
        tk_log(1, "Open XML-tag at pos=%d", static_cast<int>(pos));
        size_t open_end = key.find(L'>', pos + 1);
        if (open_end == std::wstring::npos) malformed_key();
        tk_log(1, "Close XML-tag at pos=%d", static_cast<int>(open_end));
        std::wstring name = key.substr(pos + 1, open_end - pos - 1);
        if (name.empty() || name.front() == L'/' || name.find(L'<') != std::wstring::npos) malformed_key();
        size_t close = key.find(L'<', open_end + 1);
        if (close == std::wstring::npos || key.compare(close, 2, L"</") != 0) malformed_key();
        tk_log(1, "Open XML-tag at pos=%d", static_cast<int>(close));
        size_t close_end = key.find(L'>', close + 2);
        if (close_end == std::wstring::npos) malformed_key();
        tk_log(1, "Close XML-tag at pos=%d", static_cast<int>(close_end));
        if (key.compare(close + 2, close_end - close - 2, name) != 0) malformed_key();
        std::wstring value = decode_entities(key.substr(open_end + 1, close - open_end - 1));
        pos = close_end + 1;

        if (!result.empty()) result += L" and ";
        if (!schema_.find_field(name)) {
            if (tk_log_wants(2)) tk_wlog(2, L"Field %s not found in the schema", name.c_str());
            throw tk_exception(std::wstring(L"The structure of data source does not conform to the destination table."),
                               0);
        }
        const t_ftd& d = schema_.get_field2(name);
        result += L'"';
        result += doubled(d.name, L'"');
        result += L'"';
        const bool binary = is_binary_vartype(d.vartype);
        if (binary && (value == L"0x" || value == L"0X")) value.clear();  // the text of an empty byte array
        if (!value.empty() && is_number_type(d.vartype) && is_number_text(value)) {
            tk_log(1, "Special processing for binary");
            result += L'=';
            result += value;
        } else if (!value.empty() && binary) {
            tk_log(1, "Special processing for binary");
            result += L'=';
            result += is_hex_literal(value) ? value : to_hex_literal(value);
        } else {
            result += L"='";
            result += doubled(value, L'\'');
            result += L"' ";
        }
    }
    return result;
}
