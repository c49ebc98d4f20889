// A cursor over the rows of a table or query, and the sink for appended rows.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "udb_idx.h"
#include "udb_record.h"
#include "udb_schema.h"

class udb_database;

class udb_recordset {
public:
    udb_recordset(udb_database* owner, const std::wstring& name, const std::wstring& query, bool schema_flag);
    udb_recordset(udb_database* owner, const std::wstring& name, bool schema_flag);
    explicit udb_recordset(const std::wstring& name);
    udb_recordset(const udb_recordset&) = delete;
    udb_recordset& operator=(const udb_recordset&) = delete;

    // Virtual operations, in their fixed order.
    virtual ~udb_recordset();
    virtual void append_record(const udb_record& record) = 0;
    // Sets the columns of the rows that the tagged key selects.
    virtual void update(const udb_record& record, const std::wstring& key);
    // Sets the non-key columns of the row whose key columns equal the record's.
    virtual void update(const udb_record& record);
    virtual void reserved4() {}
    // The current record, owned by the recordset: valid until the next
    // cursor move; never deleted by the caller. Null here.
    virtual udb_record* get_record();
    virtual bool is_eof();
    virtual bool is_query();
    virtual void next() {}
    virtual void prev() {}
    virtual void reset() {}
    virtual void delete_key(const std::wstring& key) { (void)key; }
    virtual void delete_key(const udb_record& record) { (void)record; }
    // A new record holding copies of the record's key fields, or null when
    // the record lacks one. Throws tk_exception (level 1) without a key.
    virtual std::unique_ptr<udb_record> get_key(const udb_record& record);
    // A where-clause condition from a tagged key text
    // ("<name>value</name>..."): names in double quotes, values escaped.
    virtual std::wstring get_filter_subquery(const std::wstring& key);
    // Whether the rows can be counted apart from their stream, by
    // count_statement() on a connection of its own. False here.
    virtual bool is_counted_apart() const { return false; }
    // The statement that counts the rows (empty here).
    virtual std::wstring count_statement() { return std::wstring(); }
    // Counts the rows now and keeps the result as the record count (nothing
    // here).
    virtual void count() {}
    // Every row of the stream has been received (true here: nothing streams).
    virtual bool is_stream_done() const { return true; }
    // Ends a stream that may still be arriving without reading the rest:
    // true when it did, and the connection is lost then. False here.
    virtual bool cut_stream() { return false; }

    // Chooses the record key: a primary key always, a unique index only
    // while no key was chosen. An index whose name is taken is not added.
    void add_index(const udb_index& index);

    const std::wstring& get_query_text() const { return query_; }
    const std::wstring& get_name() const { return name_; }
    int32_t get_key_pos() const { return key_pos_; }
    udb_schema& get_schema() { return schema_; }
    const udb_schema& get_schema() const { return schema_; }
    udb_indexes& get_indexes() { return indexes_; }
    const udb_indexes& get_indexes() const { return indexes_; }
    udb_database* get_owner() const { return owner_; }
    uint64_t get_record_count() const { return rec_count_; }
    // False when the back end could not count the records (the count is then 0).
    bool is_record_count_known() const { return rec_count_known_; }

protected:
    std::wstring query_;
    std::wstring name_;
    int32_t key_pos_ = -1;
    udb_schema schema_;
    udb_indexes indexes_;
    udb_database* owner_ = nullptr;
    std::wstring name3_;
    std::vector<std::pair<std::wstring, std::wstring>> pairs_;
    uint64_t rec_count_ = 0;  // the number of records, as the back end counted them
    bool rec_count_known_ = true;
};
