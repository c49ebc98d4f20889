// The table-list file reader.
#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "agent_util.h"
#include "con_handler.h"
#include "con_tabfile.h"
#include "kvr_conv.h"
#include "tk_excep.h"

namespace {

using agent_test::temp_dir;
using agent_test::write_file;

struct list_case {
    const char* what;
    std::string bytes;
    std::vector<std::wstring> names;
};

std::vector<list_case> list_cases() {
    const std::string bom = agent_test::bom;
    const std::string long_name(1000, 'n');
    return {
        {"plain LF lines", "alpha\nbeta\n", {L"alpha", L"beta"}},
        {"CR LF lines", "alpha\r\nbeta\r\n", {L"alpha", L"beta"}},
        {"last line without end", "alpha\nbeta", {L"alpha", L"beta"}},
        {"last line with CR only", "alpha\r\nbeta\r", {L"alpha", L"beta"}},
        {"a CR inside a line stays", "al\rpha\n", {L"al\rpha"}},
        {"empty lines skipped", "\n\nalpha\n\r\n\nbeta\n\n", {L"alpha", L"beta"}},
        {"blanks kept as they stand", "  alpha \n\t\n", {L"  alpha ", L"\t"}},
        {"byte-order mark, CR LF, non-ASCII",
         bom + "caf\xC3\xA9\r\n\xD0\xB7\xD0\xB0\xD0\xBA\xD0\xB0\xD0\xB7\r\n\xF0\x9F\x98\x80 x\r\n",
         {L"caf\u00E9", L"\u0437\u0430\u043A\u0430\u0437", L"\U0001F600 x"}},
        {"same names without the mark", "caf\xC3\xA9\n\xD0\xB7\xD0\xB0\xD0\xBA\xD0\xB0\xD0\xB7\n",
         {L"caf\u00E9", L"\u0437\u0430\u043A\u0430\u0437"}},
        // The mark is removed before the empty-line test.
        {"mark alone on the first line", bom + "\r\nalpha\r\n", {L"alpha"}},
        {"mark only", bom, {}},
        {"only empty lines", "\n\r\n\n", {}},
        {"empty file", "", {}},
        // A mark that is not at the start of the file is part of the name.
        {"mark on a later line", "alpha\n" + bom + "beta\n", {L"alpha", L"\uFEFFbeta"}},
        {"ill-formed UTF-8 gives replacement", "a\xFF" "b\n", {L"a\uFFFDb"}},
        {"line far longer than 254 bytes", "x\n" + long_name + "\r\ny\n",
         {L"x", std::wstring(1000, L'n'), L"y"}},
    };
}

void check_cases() {
    temp_dir dir;
    for (const list_case& c : list_cases()) {
        const std::string path = dir / "tables.txt";
        write_file(path, c.bytes);
        EXPECT_EQ(read_table_list(path), c.names) << c.what;
    }
}

TEST(table_list, reads_names_by_the_rules) { check_cases(); }

TEST(table_list, same_under_a_german_locale) {
    const char* old = std::setlocale(LC_ALL, nullptr);
    const std::string saved = old ? old : "C";
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    check_cases();
    std::setlocale(LC_ALL, saved.c_str());
}

TEST(table_list, unreadable_file_is_a_level_1_error) {
    temp_dir dir;
    try {
        read_table_list(dir / "missing.txt");
        ADD_FAILURE() << "no exception for a missing file";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 1u);
        EXPECT_EQ(std::string(e.what()), "Cannot open table names file: No such file or directory");
    }
}

TEST(table_list, lines_up_to_64_KiB_and_files_up_to_16_MiB) {
    temp_dir dir;
    const std::string path = dir / "tables.txt";
    const std::string longest(table_list_max_line, 'n');
    for (const char* end : {"", "\n", "\r\n"}) {
        write_file(path, "a\n" + longest + end);
        EXPECT_EQ(read_table_list(path), (std::vector<std::wstring>{L"a", std::wstring(table_list_max_line, L'n')}));
    }
    struct refused_case {
        std::string bytes;
        off_t size;  // grown with zero bytes, when not 0
        std::string reason;
    };
    const std::vector<refused_case> refused = {
        {"a\n" + longest + "n", 0, "has a line longer than 64 KiB"},
        {"a\n" + longest + "n\r\nb\n", 0, "has a line longer than 64 KiB"},
        {longest + "\r\r\n", 0, "has a line longer than 64 KiB"},
        {std::string(), off_t(table_list_max_bytes) + 1, "is larger than 16 MiB"},
    };
    for (const refused_case& c : refused) {
        write_file(path, c.bytes);
        if (c.size) {
            ASSERT_EQ(truncate(path.c_str(), c.size), 0);
        }
        try {
            read_table_list(path);
            ADD_FAILURE() << "accepted: " << c.reason;
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level(), 1u);
            EXPECT_EQ(std::string(e.what()), "The table names file " + path + " " + c.reason);
        }
    }
}

TEST(table_list, process_replaces_selected_tables_and_keeps_queries) {
    temp_dir dir;
    console_error_handler handler;
    kellvar_converter conv(kellvar_program::console, handler);
    conv.selected_tables = {L"old1", L"old2", L"old3"};
    conv.table_queries = {{L"q", L"SELECT 1"}};
    write_file(dir / "t.txt", agent_test::bom + "one\r\ntw\xC3\xB6\r\n");
    process_tab_file(dir / "t.txt");
    EXPECT_EQ(conv.selected_tables, (std::vector<std::wstring>{L"one", L"tw\u00F6"}));
    ASSERT_EQ(conv.table_queries.size(), 1u);
    EXPECT_EQ(conv.table_queries[0].first, L"q");

    // A file with only empty lines empties the list.
    write_file(dir / "e.txt", "\r\n\r\n");
    process_tab_file(dir / "e.txt");
    EXPECT_TRUE(conv.selected_tables.empty());
}

}  // namespace
