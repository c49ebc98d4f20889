// Source-to-target names of tables and fields, and the replacement of those
// names in statement texts.
#pragma once
#include <map>
#include <string>
#include <string_view>

class udb_names_map {
public:
    using name_map = std::map<std::wstring, std::wstring>;

    // The target name of a table; the name itself when it is not mapped.
    std::wstring get_tn_mapped_name(const std::wstring& name, bool case_sensitive) const;
    // The source name of a table's field from its target name; the field
    // itself when it is not mapped.
    std::wstring get_fn_orig_name(const std::wstring& table, const std::wstring& field, bool case_sensitive) const;
    // The target name of a table's field (exact keys); the field itself when
    // it is not mapped.
    std::wstring get_fn_mapped_name(const std::wstring& table, const std::wstring& field) const;

    void add_tn_mapping(const std::wstring& source, const std::wstring& target);
    // Records a table's field map; an existing entry for the table is kept.
    void add_fn_map(const std::wstring& table, const name_map& fields);

    // Every mapped table and field name of text replaced, in one pass over
    // the text: a replacement is never searched again. A name is a run of
    // letters, digits, '_' and '$'; only whole names are replaced. The
    // prefix and suffix enclose the target unless the target already carries
    // them or the name in the text is already enclosed by them.
    std::wstring do_global_replace1(const std::wstring& text, const std::wstring& prefix,
                                    const std::wstring& suffix, bool case_sensitive = false) const;
    static std::wstring do_global_replace2(const std::wstring& text, const name_map& map,
                                           const std::wstring& prefix, const std::wstring& suffix,
                                           bool case_sensitive = false);

    // True for the characters that make up a name.
    static bool is_name_char(wchar_t c);

    name_map tables;                      // source table -> target table
    std::map<std::wstring, name_map> fields;  // source table -> (source field -> target field)
};
