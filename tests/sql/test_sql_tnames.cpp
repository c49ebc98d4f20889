// The process-wide table of MySQL type names.
#include <gtest/gtest.h>

#include "sql_tnames.h"
#include "sql_write_test_util.h"

using namespace sql_write_test;

namespace {

TEST(TypeNames, TableHoldsTheTwentyEightNames) {
    const std::map<int32_t, std::wstring> expected = {
        {0, L"BINARY"},     {1, L"BIT"},           {2, L"TINYINT"},     {3, L"TINYINT UNSIGNED"},
        {4, L"SMALLINT"},   {5, L"SMALLINT UNSIGNED"}, {6, L"INT"},     {7, L"INT UNSIGNED"},
        {8, L"BIGINT"},     {9, L"BIGINT UNSIGNED"}, {10, L"FLOAT"},    {11, L"DECIMAL"},
        {12, L"DOUBLE"},    {13, L"CHAR"},         {14, L"VARBINARY"},  {15, L"VARCHAR"},
        {16, L"DATETIME"},  {17, L"DATE"},         {18, L"TIME"},       {19, L"TIMESTAMP"},
        {20, L"LONGBLOB"},  {21, L"TINYBLOB"},     {22, L"BLOB"},       {23, L"MEDIUMBLOB"},
        {24, L"TEXT"},      {25, L"LONGTEXT"},     {26, L"MEDIUMTEXT"}, {27, L"TINYTEXT"},
    };
    EXPECT_EQ(sql_type_names(), expected);
    for (const auto& [index, text] : expected) EXPECT_EQ(get_sql_type_name(index), text) << index;
    sql_type_names();
    EXPECT_EQ(sql_type_names().size(), 28u);
}

TEST(TypeNames, BlobSizesAreNotInSizeOrder) {
    EXPECT_EQ(get_sql_type_name(sql_t_tinyblob), L"TINYBLOB");
    EXPECT_EQ(get_sql_type_name(21), L"TINYBLOB");
    EXPECT_EQ(get_sql_type_name(22), L"BLOB");
    EXPECT_EQ(get_sql_type_name(23), L"MEDIUMBLOB");
}

TEST(TypeNames, UnknownIndexes) {
    log_capture log;
    EXPECT_EQ(get_sql_type_name(28), L"<Unknown type>");
    EXPECT_EQ(get_sql_type_name(-1), L"<Unknown type>");
    EXPECT_TRUE(log.has_line("Type 28 wasn't found"));
    EXPECT_TRUE(log.has_line("Type -1 wasn't found"));
    EXPECT_EQ(sql_type_names().size(), 28u);
}

TEST(TypeNames, TextsOutliveTheCall) {
    const std::wstring& a = get_sql_type_name(15);
    const std::wstring& unknown = get_sql_type_name(99);
    sql_type_names();
    EXPECT_EQ(&a, &get_sql_type_name(15));
    EXPECT_EQ(a, L"VARCHAR");
    EXPECT_EQ(unknown, L"<Unknown type>");
}

}  // namespace
