// One foreign key.
#pragma once
#include <string>
#include <vector>

struct udb_relationship {
    udb_relationship() = default;
    udb_relationship(const std::wstring& constraint_name, const std::wstring& extra, const std::wstring& fk_table,
                     const std::wstring& pk_table, const std::vector<std::wstring>& fk_flds,
                     const std::vector<std::wstring>& pk_flds, const std::wstring& rule);
    udb_relationship(const udb_relationship& that);
    udb_relationship& operator=(const udb_relationship& that) = default;
    udb_relationship(udb_relationship&& that) noexcept = default;
    udb_relationship& operator=(udb_relationship&& that) noexcept = default;

    std::wstring constraint_name;
    std::wstring extra;     // unused by this system
    std::wstring fk_table;  // the referencing table
    std::wstring pk_table;  // the referenced table
    std::wstring rule;      // text after the referenced columns (ON DELETE ..., ON UPDATE ...)
    std::vector<std::wstring> fk_flds;
    std::vector<std::wstring> pk_flds;
};
