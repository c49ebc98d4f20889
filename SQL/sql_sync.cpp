#include "sql_sync.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "sql_db.h"
#include "sql_engi.h"
#include "sql_util.h"
#include "numbers.h"
#include "real_text.h"
#include "tk_excep.h"
#include "utf8.h"
#include "tk_log.h"
#include "udb_recordset.h"
#include "udb_schema.h"

namespace {

std::wstring decode_entities(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'&') {
            if (text.compare(i, 4, L"&lt;") == 0) {
                out.push_back(L'<');
                i += 3;
                continue;
            }
            if (text.compare(i, 4, L"&gt;") == 0) {
                out.push_back(L'>');
                i += 3;
                continue;
            }
            if (text.compare(i, 5, L"&amp;") == 0) {
                out.push_back(L'&');
                i += 4;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

bool is_hex_literal(const std::wstring& text) {
    if (text.size() < 3 || text[0] != L'0' || (text[1] != L'x' && text[1] != L'X')) return false;
    for (size_t i = 2; i < text.size(); ++i) {
        const wchar_t c = text[i];
        const bool hex = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
        if (!hex) return false;
    }
    return true;
}

}  // namespace

sql_sync::sql_sync(sql_database* database) : database_(database) { tk_log(1, "sql_sync::ctor"); }

std::vector<sql_sync::key_part> sql_sync::parse(const std::wstring& key) {
    std::vector<key_part> parts;
    size_t pos = 0;
    while (pos < key.size()) {
        if (key[pos] != L'<') {
            ++pos;
            continue;
        }
        tk_log(1, "Open XML-tag at pos=%d", static_cast<int>(pos));
        const size_t close = key.find(L'>', pos);
        if (close == std::wstring::npos) break;
        tk_log(1, "Close XML-tag at pos=%d", static_cast<int>(close));
        std::wstring name = key.substr(pos + 1, close - pos - 1);
        if (!name.empty() && name[0] == L'/') {  // a closing tag without its element
            pos = close + 1;
            continue;
        }
        const size_t value_start = close + 1;
        const size_t value_end = std::min(key.find(L'<', value_start), key.size());
        parts.push_back({std::move(name), decode_entities(key.substr(value_start, value_end - value_start))});
        // The closing tag (its name is not checked).
        const size_t tag_end = value_end < key.size() ? key.find(L'>', value_end) : std::wstring::npos;
        pos = tag_end == std::wstring::npos ? key.size() : tag_end + 1;
    }
    return parts;
}

std::wstring sql_sync::make_filter(const udb_schema& schema, const std::vector<key_part>& parts) {
    std::wstring result;
    for (const key_part& part : parts) {
        if (!result.empty()) result += L" and ";
        result += sql_engine::get_safe_name(part.name);
        const VARTYPE vt = schema.find_field(part.name) ? schema.get_field_type(part.name) : VT_BSTR;
        const bool number = sql_is_numeric_literal(std::wstring_view(part.value));
        // The server would compare a numeric column with the text's numeric
        // prefix (or 0), matching other rows.
        if (sql_is_numeric_type(vt) && !number)
            throw tk_exception("The key value of the numeric column '" + plat::utf8_encode(part.name) +
                                   "' is not a number: '" + plat::utf8_encode(part.value) + "'",
                               0);
        if ((vt == VT_R4 || vt == VT_R8) && !plat::text_to_double(plat::utf8_encode(part.value)))
            throw tk_exception("The key value of the column '" + plat::utf8_encode(part.name) +
                                   "' lies beyond the range of a floating-point number",
                               0);
        const bool bare = (sql_is_numeric_type(vt) && number) ||
                          (sql_is_blob_type(vt) && (is_hex_literal(part.value) || number));
        if (bare && vt == VT_R4) {
            // A FLOAT column holds a single: compared with that single's exact value.
            const float value = plat::parse_float_prefix(plat::utf8_encode(part.value));
            if (!std::isfinite(value))
                throw tk_exception("The key value of the column '" + plat::utf8_encode(part.name) +
                                       "' lies beyond the range of its FLOAT column",
                                   0);
            result += L"=" + plat::utf8_decode(sql_float_key_literal(value));
        } else if (bare) {
            tk_log(1, "No quotes for numeric or binary");
            result += L"=" + part.value;
        } else {
            result += L"='" + sql_escape(std::wstring_view(part.value)) + L"' ";
        }
    }
    return result;
}

std::wstring sql_sync::get_filter_subquery(const std::wstring& table, const std::wstring& key) {
    if (tk_log_wants(2)) tk_wlog(2, L"sql_sync::get_filter_subquery(%s,%s)", table.c_str(), key.c_str());
    std::unique_ptr<udb_recordset> rs = database_->get_table(table, 0);
    return make_filter(rs->get_schema(), parse(key));
}
