// The MySQL column type names of the writing side, by the small index that
// the type texts use.
#pragma once
#include <cstdint>
#include <map>
#include <string>

// Indexes of the table (the BLOB sizes are not numbered in size order).
enum sql_type_index : int32_t {
    sql_t_binary = 0,
    sql_t_bit = 1,
    sql_t_tinyint = 2,
    sql_t_tinyint_unsigned = 3,
    sql_t_smallint = 4,
    sql_t_smallint_unsigned = 5,
    sql_t_int = 6,
    sql_t_int_unsigned = 7,
    sql_t_bigint = 8,
    sql_t_bigint_unsigned = 9,
    sql_t_float = 10,
    sql_t_decimal = 11,
    sql_t_double = 12,
    sql_t_char = 13,
    sql_t_varbinary = 14,
    sql_t_varchar = 15,
    sql_t_datetime = 16,
    sql_t_date = 17,
    sql_t_time = 18,
    sql_t_timestamp = 19,
    sql_t_longblob = 20,
    sql_t_tinyblob = 21,
    sql_t_blob = 22,
    sql_t_mediumblob = 23,
    sql_t_text = 24,
    sql_t_longtext = 25,
    sql_t_mediumtext = 26,
    sql_t_tinytext = 27,
};

// The process-wide table, filled on first use (28 entries), destroyed at exit.
std::map<int32_t, std::wstring>& sql_type_names();

// The type text of an index; "<Unknown type>" for an index not in the table.
// The text lives until process exit.
const std::wstring& get_sql_type_name(int32_t index);
