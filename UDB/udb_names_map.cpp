#include "udb_names_map.h"

#include <utility>
#include <vector>

#include "text.h"
#include "tk_log.h"

namespace {

bool same_name(std::wstring_view a, std::wstring_view b, bool case_sensitive) {
    return case_sensitive ? a == b : plat::equal_nocase(a, b);
}

struct pair_rule {
    std::wstring pattern;
    std::wstring quoted;  // target with prefix and suffix
    std::wstring bare;    // target without them, for names already enclosed
};

pair_rule make_rule(const std::wstring& source, const std::wstring& target, const std::wstring& prefix,
                    const std::wstring& suffix) {
    pair_rule r;
    r.pattern = source;
    r.quoted = (target.starts_with(prefix) ? std::wstring() : prefix) + target +
               (target.ends_with(suffix) ? std::wstring() : suffix);
    std::wstring_view bare = target;
    if (bare.starts_with(prefix)) bare.remove_prefix(prefix.size());
    if (bare.ends_with(suffix)) bare.remove_suffix(suffix.size());
    r.bare = std::wstring(bare);
    if (tk_log_wants(1)) tk_wlog(1, L"Testing pair ('%s','%s')", r.pattern.c_str(), r.quoted.c_str());
    return r;
}

bool matches_at(std::wstring_view text, size_t pos, std::wstring_view pattern, bool case_sensitive) {
    if (pattern.size() > text.size() - pos) return false;
    return same_name(text.substr(pos, pattern.size()), pattern, case_sensitive);
}

// One pass over text: at each position the longest matching whole name wins
// (the first rule among equals); replacements are not scanned again.
std::wstring replace_names(const std::wstring& text, const std::vector<pair_rule>& rules, const std::wstring& prefix,
                           const std::wstring& suffix, bool case_sensitive) {
    if (rules.empty()) return text;
    std::wstring out;
    out.reserve(text.size());
    std::wstring_view view = text;
    size_t pos = 0;
    while (pos < view.size()) {
        const pair_rule* best = nullptr;
        if (pos == 0 || !udb_names_map::is_name_char(view[pos - 1])) {
            for (const pair_rule& r : rules) {
                if (best && r.pattern.size() <= best->pattern.size()) continue;
                if (!matches_at(view, pos, r.pattern, case_sensitive)) continue;
                size_t end = pos + r.pattern.size();
                if (end < view.size() && udb_names_map::is_name_char(view[end])) continue;
                best = &r;
            }
        }
        if (!best) {
            out.push_back(view[pos++]);
            continue;
        }
        if (tk_log_wants(1)) tk_wlog(1, L"'%s' was found at pos=%d", best->pattern.c_str(), static_cast<int>(pos));
        size_t end = pos + best->pattern.size();
        bool enclosed = !prefix.empty() && !suffix.empty() && pos >= prefix.size() &&
                        view.substr(pos - prefix.size(), prefix.size()) == prefix &&
                        view.substr(end, suffix.size()) == suffix;
        out += enclosed ? best->bare : best->quoted;
        pos = end;
    }
    return out;
}

}  // namespace

bool udb_names_map::is_name_char(wchar_t c) { return c == L'_' || c == L'$' || plat::is_alnum(c); }

std::wstring udb_names_map::get_tn_mapped_name(const std::wstring& name, bool case_sensitive) const {
    const bool logging = tk_log_wants(1);
    if (logging) tk_wlog(1, L"udb_names_map::get_tn_mapped_name(%s)", name.c_str());
    for (const auto& [source, target] : tables) {
        if (logging) tk_wlog(1, L"Comparing with (%s,%s)", source.c_str(), target.c_str());
        if (same_name(name, source, case_sensitive)) {
            if (logging) tk_wlog(1, L"Got mapped name: %s", target.c_str());
            return target;
        }
    }
    return name;
}

std::wstring udb_names_map::get_fn_orig_name(const std::wstring& table, const std::wstring& field,
                                             bool case_sensitive) const {
    const bool logging = tk_log_wants(1);
    if (logging) {
        tk_wlog(1, L"udb_names_map::get_fn_orig_name(%s,%s)", table.c_str(), field.c_str());
        tk_log(1, "fn.size=%d", static_cast<int>(fields.size()));
        tk_log(1, "Step #1");
    }
    auto it = fields.find(table);
    if (it == fields.end() && !case_sensitive) {
        for (auto jt = fields.begin(); jt != fields.end(); ++jt) {
            if (plat::equal_nocase(jt->first, table)) {
                it = jt;
                break;
            }
        }
    }
    if (it == fields.end()) {
        if (logging) tk_wlog(1, L"Table '%s' not found", table.c_str());
        return field;
    }
    tk_log(1, "Step #2");
    for (const auto& [source, target] : it->second) {
        if (same_name(field, target, case_sensitive)) {
            if (logging) tk_wlog(1, L"Got orignal name: %s", source.c_str());
            return source;
        }
    }
    return field;
}

std::wstring udb_names_map::get_fn_mapped_name(const std::wstring& table, const std::wstring& field) const {
    const bool logging = tk_log_wants(1);
    if (logging) tk_wlog(1, L"udb_names_map::get_fn_mapped_name(%s,%s)", table.c_str(), field.c_str());
    auto it = fields.find(table);
    if (it == fields.end()) {
        if (logging) tk_wlog(1, L"Table '%s' not found", table.c_str());
        return field;
    }
    auto jt = it->second.find(field);
    if (jt == it->second.end()) return field;
    if (logging) tk_wlog(1, L"Got mapped name: %s", jt->second.c_str());
    return jt->second;
}

void udb_names_map::add_tn_mapping(const std::wstring& source, const std::wstring& target) {
    if (tk_log_wants(2)) tk_wlog(2, L"udb_names_map::add_tn_mapping(%s,%s)", source.c_str(), target.c_str());
    tables[source] = target;
}

void udb_names_map::add_fn_map(const std::wstring& table, const name_map& map) {
    if (tk_log_wants(2)) tk_wlog(2, L"udb_names_map::add_fn_map(%s)", table.c_str());
    fields.try_emplace(table, map);
}

std::wstring udb_names_map::do_global_replace2(const std::wstring& text, const name_map& map,
                                               const std::wstring& prefix, const std::wstring& suffix,
                                               bool case_sensitive) {
    if (tk_log_wants(2)) tk_wlog(2, L"udb_names_map::do_global_replace2(%s)", text.c_str());
    std::vector<pair_rule> rules;
    rules.reserve(map.size());
    for (const auto& [source, target] : map)
        if (!source.empty()) rules.push_back(make_rule(source, target, prefix, suffix));
    return replace_names(text, rules, prefix, suffix, case_sensitive);
}

std::wstring udb_names_map::do_global_replace1(const std::wstring& text, const std::wstring& prefix,
                                               const std::wstring& suffix, bool case_sensitive) const {
    if (tk_log_wants(2)) tk_wlog(2, L"udb_names_map::do_global_replace1(%s)", text.c_str());
    std::vector<pair_rule> rules;
    for (const auto& [source, target] : tables)
        if (!source.empty()) rules.push_back(make_rule(source, target, prefix, suffix));
    for (const auto& [table, map] : fields)
        for (const auto& [source, target] : map)
            if (!source.empty()) rules.push_back(make_rule(source, target, prefix, suffix));
    return replace_names(text, rules, prefix, suffix, case_sensitive);
}
