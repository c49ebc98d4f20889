// One open database: tables, views, queries and its table-name list.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "udb_idx.h"
#include "udb_names_map.h"
#include "udb_relationship.h"
#include "udb_schema.h"

class udb_recordset;

class udb_database {
public:
    using name_pair = std::pair<std::wstring, std::wstring>;
    using name_pairs = std::vector<name_pair>;

    // A get_table mode bit: the table is opened to read its rows and the
    // names of its columns; nothing else of it (indexes, keys, refined
    // types, defaults) is looked up.
    static constexpr uint32_t table_rows_only = 0x1000;

    udb_database(const std::wstring& name, uint32_t mode, bool case_sensitive);
    udb_database(const udb_database&) = delete;
    udb_database& operator=(const udb_database&) = delete;

    // Virtual operations, in their fixed order.
    virtual ~udb_database();
    virtual void reserved1() {}
    // Creating a table with a partition clause is not supported.
    virtual std::unique_ptr<udb_recordset> create_table(const std::wstring& name, const udb_schema& schema,
                                                        const udb_indexes& indexes, const std::wstring& partition);
    // Creates the table and answers it opened (owned by the caller).
    virtual std::unique_ptr<udb_recordset> create_table(const std::wstring& name, const udb_schema& schema,
                                                        const udb_indexes& indexes) = 0;
    virtual void create_index(const std::wstring& table, uint32_t flags, const udb_index& index);
    // create_index once per index, in order.
    virtual void create_indexes(const std::wstring& table, uint32_t flags, const udb_indexes& indexes);
    virtual void reserved6() {}
    // (view name, query text) pairs.
    virtual void create_views(const name_pairs& views);
    virtual void reserved8() {}
    virtual void reserved9() {}
    // Removes the first matching name from the table-name list.
    virtual bool delete_tab(const std::wstring& name);
    virtual void reserved11() {}
    // Runs "delete from " + name through query().
    virtual void empty_table(const std::wstring& name);
    virtual void reserved13() {}
    // A new recordset over a query text (owned by the caller).
    virtual std::unique_ptr<udb_recordset> get_query(const std::wstring& name, const std::wstring& text,
                                                     uint32_t mode) = 0;
    virtual void clear_names(std::vector<std::wstring>& names) { names.clear(); }
    // A new recordset over a table (owned by the caller).
    virtual std::unique_ptr<udb_recordset> get_table(const std::wstring& name, uint32_t mode) = 0;
    // Runs a statement; answers its result rows, or null when it has none.
    virtual std::unique_ptr<udb_recordset> query(const std::wstring& text);
    // Runs a statement; answers whether it succeeded (throws nothing for a
    // statement the server refuses).
    virtual bool try_query(const std::wstring& text) = 0;
    virtual void create_relationships(const std::vector<udb_relationship>& relationships);
    virtual std::vector<std::wstring>& get_table_names();
    // Exact when the database is case-sensitive, else ignoring case.
    virtual bool is_table_exist(const std::wstring& name);

    uint32_t get_mode() const { return mode_; }
    const std::wstring& get_name() const { return name_; }
    bool is_case_sensitive() const { return case_sensitive_; }
    const name_pairs& get_views() const { return views_; }
    udb_names_map& get_names_map() { return names_map_; }
    const udb_names_map& get_names_map() const { return names_map_; }
    std::vector<udb_relationship>& get_relationships() { return relationships_; }
    const std::vector<udb_relationship>& get_relationships() const { return relationships_; }

protected:
    bool same_table_name(const std::wstring& a, const std::wstring& b) const;
    // The listed table spelled exactly as name, or null; looked up by an
    // index of the list that is rebuilt whenever the list has changed.
    const std::wstring* find_exact_table(const std::wstring& name) const;

    uint32_t mode_ = 0;
    std::wstring name_;
    std::wstring name2_;
    bool case_sensitive_ = false;
    name_pairs views_;
    std::vector<std::wstring> tables_;
    mutable std::unordered_map<std::wstring, size_t> exact_index_;
    mutable size_t indexed_count_ = 0;
    udb_names_map names_map_;
    std::vector<udb_relationship> relationships_;
};
