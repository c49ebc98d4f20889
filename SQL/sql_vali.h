// Name rules of MySQL targets: which table, column and index names the server
// accepts, and acceptable replacements that are not yet taken. Servers from
// 4.1.0 on quote every name (sql_new_*); older ones take plain words only
// (sql_old_*). sql_engine's create_*_validator choose by server version.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "udb_vali.h"

class udb_record;
class udb_schema;
class udb_indexes;

namespace sql_names {

// Names are at most this many characters long.
inline constexpr uint32_t max_length = 64;
// A table is stored in files named after it (name in the server's file-name
// encoding plus a four-character extension): the encoded name may take at
// most this many bytes.
inline constexpr size_t max_file_name_bytes = 251;

// False for the characters that no name may hold: U+0000, surrogates and
// everything beyond U+FFFF (names are kept in a three-byte character set).
bool is_allowed_char(wchar_t c);
// The blank and the ASCII white-space characters the server will not have
// at the end of a name.
bool is_space(wchar_t c);
// Bytes of the name in the server's file-name encoding: 1 for letters,
// digits and '_' of ASCII, 3 for the letters that have a short code, 5 for
// every other character.
size_t file_name_bytes(std::wstring_view name);

}  // namespace sql_names

class sql_new_validator : public udb_validator {
public:
    // table_names: the rules of table names (more symbols refused, file-name
    // length); otherwise those of column and index names.
    explicit sql_new_validator(bool table_names);
    ~sql_new_validator() override;

    bool is_acceptable(const std::wstring& name) override;
    std::wstring get_safe_name(const std::wstring& name) override;

    bool is_table_validator() const { return table_names_; }

private:
    bool table_names_;
};

class sql_old_validator : public udb_validator {
public:
    sql_old_validator();
    ~sql_old_validator() override;

    bool is_acceptable(const std::wstring& name) override;
    std::wstring get_safe_name(const std::wstring& name) override;

    // The reserved words of old servers (lower case, in table order).
    static const std::vector<std::wstring>& reserved_words();
};

// Kinds: each registers the names of its argument as names in use.
class sql_new_fn_validator : public sql_new_validator {
public:
    explicit sql_new_fn_validator(const udb_record& record);
    explicit sql_new_fn_validator(const udb_schema& schema);
};

class sql_new_in_validator : public sql_new_validator {
public:
    explicit sql_new_in_validator(const udb_indexes& indexes);
};

class sql_new_tn_validator : public sql_new_validator {
public:
    sql_new_tn_validator(const std::vector<std::wstring>& names1, const std::vector<std::wstring>& names2);
};

class sql_old_fn_validator : public sql_old_validator {
public:
    explicit sql_old_fn_validator(const udb_record& record);
    explicit sql_old_fn_validator(const udb_schema& schema);
};

class sql_old_in_validator : public sql_old_validator {
public:
    explicit sql_old_in_validator(const udb_indexes& indexes);
};

class sql_old_tn_validator : public sql_old_validator {
public:
    sql_old_tn_validator(const std::vector<std::wstring>& names1, const std::vector<std::wstring>& names2);
};
