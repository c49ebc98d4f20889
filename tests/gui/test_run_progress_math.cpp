// The progress page's arithmetic: the bar's percentage, the status line and
// the closing creep.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <limits>
#include <string>

#include "kvr_progress.h"

namespace {

struct percent_case {
    uint32_t table_count, tables_done;
    uint64_t record_count, current_record;
    uint32_t expected;
};

class ProgressPercent : public ::testing::TestWithParam<percent_case> {};

TEST_P(ProgressPercent, Formula) {
    const percent_case& c = GetParam();
    EXPECT_EQ(progress_percent(c.table_count, c.tables_done, c.record_count, c.current_record), c.expected)
        << c.table_count << " tables, " << c.tables_done << " done, record " << c.current_record << " of "
        << c.record_count;
}

constexpr uint64_t u64max = std::numeric_limits<uint64_t>::max();
constexpr uint32_t u32max = std::numeric_limits<uint32_t>::max();

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgressPercent,
    ::testing::Values(
        // No entry yet (or the run's normal end): no division, 0.
        percent_case{0, 0, 0, 0, 0}, percent_case{0, 5, 100, 50, 0},
        // Whole entries only.
        percent_case{1, 0, 0, 0, 0}, percent_case{3, 1, 0, 0, 33}, percent_case{3, 2, 0, 0, 66},
        // 4 tables, 2 done, 50 of 200 records of the third: 50 + 25 / 4.
        percent_case{4, 2, 200, 50, 56},
        // Each division truncates: 1/3 table = 33, 99 of 100 records / 3 = 33.
        percent_case{3, 1, 100, 99, 66}, percent_case{1, 0, 3, 1, 33}, percent_case{1, 0, 3, 2, 66},
        // The last table's records all written, the table not yet counted.
        percent_case{2, 1, 10, 10, 100},
        // Every table done while its records still stand: never above 100.
        percent_case{4, 4, 200, 200, 100}, percent_case{1, 1, 1, 1, 100},
        // A table that grew while it was read counts as whole, no more.
        percent_case{2, 0, 10, 25, 50}, percent_case{1, 0, 10, 1000, 100},
        // More entries done than exist (never written so): 100.
        percent_case{2, 7, 0, 0, 100},
        // Counts beyond 32 bits: no overflow in the products.
        percent_case{u32max, u32max / 4 * 3, 0, 0, 74}, percent_case{u32max, u32max - 1, 0, 0, 99},
        percent_case{1, 0, u64max, u64max / 2, 49}, percent_case{1, 0, u64max, u64max - 1, 99},
        percent_case{2, 1, 5000000000ull, 2500000000ull, 75}),
    [](const ::testing::TestParamInfo<percent_case>& info) {
        const percent_case& c = info.param;
        return "t" + std::to_string(c.table_count) + "_d" + std::to_string(c.tables_done) + "_r" +
               std::to_string(c.current_record) + "of" + std::to_string(c.record_count);
    });

TEST(ProgressStatus, EmptyWithoutTable) {
    EXPECT_EQ(progress_status(L"", 10, 5, false), L"");
    EXPECT_EQ(progress_status(L"", 0, 0, true), L"");
}

TEST(ProgressStatus, RecordNumbersOnlyWhileRecordsAreWritten) {
    EXPECT_EQ(progress_status(L"orders", 200, 50, false), L"Processing table 'orders' (record 50 of 200)");
    // A table of 0 records, and header-only files, show the name alone.
    EXPECT_EQ(progress_status(L"orders", 0, 0, false), L"Processing table 'orders'");
    EXPECT_EQ(progress_status(L"orders", 200, 50, true), L"Processing table 'orders'");
    EXPECT_EQ(progress_status(L"Zähler \u00e9t\u00e9", 1, 0, false),
              L"Processing table 'Zähler \u00e9t\u00e9' (record 0 of 1)");
}

TEST(ProgressStatus, SixtyFourBitCountsPrintInFull) {
    EXPECT_EQ(progress_status(L"t", 5000000000ull, 4294967297ull, false),
              L"Processing table 't' (record 4294967297 of 5000000000)");
    EXPECT_EQ(progress_status(L"t", u64max, u64max - 1, false),
              L"Processing table 't' (record 18446744073709551614 of 18446744073709551615)");
}

TEST(ProgressStatus, NumbersUnchangedUnderAnotherLocale) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    const std::wstring text = progress_status(L"t", 1234567890123ull, 1234567ull, false);
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(text, L"Processing table 't' (record 1234567 of 1234567890123)");
}

TEST(ProgressStatus, LongNamesAreShortenedNotTheNumbers) {
    const std::wstring name(400, L'n');
    const std::wstring text = progress_status(name, 9000000000ull, 8000000000ull, false);
    EXPECT_LE(text.size(), progress_status_limit);
    EXPECT_EQ(text.rfind(L"...' (record 8000000000 of 9000000000)"), text.size() - 38) << std::string(text.begin(), text.end());
    EXPECT_EQ(text.rfind(L"Processing table 'nnn", 0), 0u);
    const std::wstring plain = progress_status(name, 0, 0, false);
    EXPECT_LE(plain.size(), progress_status_limit);
    EXPECT_EQ(plain.substr(plain.size() - 4), L"...'");
    // A name that fits is kept whole.
    const std::wstring fits(200, L'x');
    EXPECT_EQ(progress_status(fits, 0, 0, false), L"Processing table '" + fits + L"'");
}

TEST(ProgressCreep, RisesTowardsButNeverReachesOneHundred) {
    EXPECT_EQ(progress_creep(0), 0u);
    EXPECT_EQ(progress_creep(10), 50u);   // atan(1) is a quarter turn's half
    EXPECT_EQ(progress_creep(1), 6u);     // atan(0.1) * 100 / (pi/2) = 6.3
    uint32_t last = 0;
    for (uint32_t n = 0; n < 2000; ++n) {
        const uint32_t v = progress_creep(n);
        EXPECT_GE(v, last) << n;
        EXPECT_LT(v, 100u) << n;
        last = v;
    }
    EXPECT_EQ(progress_creep(100000), 99u);
    EXPECT_EQ(progress_creep(u32max), 99u);
}

}  // namespace
