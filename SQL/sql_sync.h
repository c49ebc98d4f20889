// Synchronisation keys: "<name>value</name>..." texts that select rows.
#pragma once
#include <string>
#include <vector>

class sql_database;
class udb_schema;

class sql_sync {
public:
    struct key_part {
        std::wstring name;
        std::wstring value;  // entities (&lt; &gt; &amp;) decoded
    };

    explicit sql_sync(sql_database* database);

    // The WHERE condition for the key on the table (its schema is read by
    // opening the table).
    std::wstring get_filter_subquery(const std::wstring& table, const std::wstring& key);

    // The key's elements in order. An element without its closing tag runs
    // to the end of the text; text outside elements is skipped.
    static std::vector<key_part> parse(const std::wstring& key);
    // The condition for the parts: "`name`=value" joined by " and ";
    // numbers and binary literals of numeric and binary columns bare, every
    // other value quoted and escaped.
    static std::wstring make_filter(const udb_schema& schema, const std::vector<key_part>& parts);

private:
    sql_database* database_;
};
