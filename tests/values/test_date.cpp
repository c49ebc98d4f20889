// Date and time values: one table of texts and their readings and prints.
#include <gtest/gtest.h>

#include <cstring>

#include "ole_date.h"
#include "tk_excep.h"
#include "values_test_util.h"

namespace {

struct date_case {
    const char* name;
    const char* text;
    uint32_t kind;
    const char* narrow6;  // to_string(6)
    const char* wide6;    // to_wstring(6), as UTF-8; null: same as narrow6
    const char* narrow3;  // to_string(3); null: same as narrow6
};

const date_case date_cases[] = {
    {"compact_date", "20200131", 2, "2020-01-31", nullptr, nullptr},
    {"compact_date_time", "20200131235959", 1, "2020-01-31 23:59:59", nullptr, nullptr},
    {"compact_swaps_day_and_year", "31122020", 0, "", nullptr, nullptr},
    {"midnight_is_a_date", "2020-01-31 00:00:00", 2, "2020-01-31", nullptr, nullptr},
    {"iso_date_time", "2020-01-31 10:20:30", 1, "2020-01-31 10:20:30", nullptr, nullptr},
    {"iso_with_t", "2020-01-31T10:20:30", 1, "2020-01-31 10:20:30", nullptr, nullptr},
    {"slashes", "2020/01/31 10:20:30", 1, "2020-01-31 10:20:30", nullptr, nullptr},
    {"dots_with_swap", "31.12.2020 10:00:00", 1, "2020-12-31 10:00:00", nullptr, nullptr},
    {"dashes_with_swap", "31-12-2020", 2, "2020-12-31", nullptr, nullptr},
    {"pure_time_fraction", "12:34:56.789", 3, "0000-00-00 12:34:56.789000", "12:34:56.789000",
     "0000-00-00 12:34:56.789"},
    {"pure_time_no_seconds", "10:00", 3, "0000-00-00 10:00:00", "10:00:00", nullptr},
    {"pm_adds_twelve", "02:30:00 PM", 3, "0000-00-00 14:30:00", "14:30:00", nullptr},
    {"twelve_pm_stays", "12:15:00 PM", 3, "0000-00-00 12:15:00", "12:15:00", nullptr},
    {"twelve_am_is_hour_zero", "12:15:00 AM", 3, "0000-00-00 00:15:00", "00:15:00", nullptr},
    {"date_time_pm", "2020-01-31 11:00:00 pm", 1, "2020-01-31 23:00:00", nullptr, nullptr},
    {"leap_day", "2020-02-29", 2, "2020-02-29", nullptr, nullptr},
    {"not_a_leap_day", "2021-02-29", 0, "", nullptr, nullptr},
    {"bad_month", "2021-13-01", 0, "", nullptr, nullptr},
    {"date_time_hour_25_refused", "2020-01-31 25:00:00", 0, "", nullptr, nullptr},
    {"seconds_checked_after_reading", "12:34:99", 0, "", nullptr, nullptr},
    {"seconds_checked_in_date_time", "2020-01-31 12:34:99", 0, "", nullptr, nullptr},
    {"too_short", "1:2", 0, "", nullptr, nullptr},
    {"too_short_after_am", "1:2 AM", 0, "", nullptr, nullptr},
    {"garbage", "hello world", 0, "", nullptr, nullptr},
    // MySQL TIME spans keep their sign and their hours.
    {"time_hours_beyond_24", "838:59:59", 3, "0000-00-00 838:59:59", "838:59:59", nullptr},
    {"time_25_hours", "25:00:00", 3, "0000-00-00 25:00:00", "25:00:00", nullptr},
    {"negative_time", "-12:34:56", 3, "0000-00-00 -12:34:56", "-12:34:56", nullptr},
    {"negative_zero_hour", "-00:30:00", 3, "0000-00-00 -00:30:00", "-00:30:00", nullptr},
    {"negative_time_fraction", "-00:00:01.5", 3, "0000-00-00 -00:00:01.500000", "-00:00:01.500000",
     "0000-00-00 -00:00:01.500"},
    {"span_after_zero_date", "0000-00-00 -838:59:59", 3, "0000-00-00 -838:59:59", "-838:59:59", nullptr},
    // MySQL zero-in-date values are kept as read.
    {"zero_day", "2020-05-00", 2, "2020-05-00", nullptr, nullptr},
    {"zero_month_and_day_with_time", "2020-00-00 10:00:00", 1, "2020-00-00 10:00:00", nullptr, nullptr},
    {"zero_date", "0000-00-00", 2, "0000-00-00", nullptr, nullptr},
    {"zero_date_time", "0000-00-00 00:00:00", 1, "0000-00-00 00:00:00", nullptr, nullptr},
    {"zero_date_with_time", "0000-00-00 10:11:12", 1, "0000-00-00 10:11:12", nullptr, nullptr},
    // Fractions: carry upwards, microseconds count, milliseconds never 1000.
    {"carry_into_minute", "10:00:59.9999996", 3, "0000-00-00 10:01:00", "10:01:00", nullptr},
    {"carry_into_hour", "10:59:59.9999996", 3, "0000-00-00 11:00:00", "11:00:00", nullptr},
    {"carry_into_day", "2020-01-30 23:59:59.9999999", 2, "2020-01-31", nullptr, nullptr},
    {"carry_into_month", "2020-02-29 23:59:59.9999999", 2, "2020-03-01", nullptr, nullptr},
    {"carry_into_year", "2020-12-31 23:59:59.9999999", 2, "2021-01-01", nullptr, nullptr},
    {"carry_keeps_time_span", "23:59:59.9999999", 3, "0000-00-00 24:00:00", "24:00:00", nullptr},
    {"negative_hour_with_real_date", "2020-01-31 -10:00:00", 0, "", nullptr, nullptr},
    {"no_carry_below_half_micro", "10:00:59.9999994", 3, "0000-00-00 10:00:59.999999", "10:00:59.999999",
     "0000-00-00 10:00:59.999"},
    {"milliseconds_never_1000", "12:34:56.9996", 3, "0000-00-00 12:34:56.999600", "12:34:56.999600",
     "0000-00-00 12:34:56.999"},
    {"micro_only_fraction", "12:00:00.0004", 3, "0000-00-00 12:00:00.000400", "12:00:00.000400",
     "0000-00-00 12:00:00.000"},
    {"midnight_with_microseconds", "2020-01-31 00:00:00.000400", 1, "2020-01-31 00:00:00.000400", nullptr,
     "2020-01-31 00:00:00.000"},
    {"six_digit_fraction", "2020-01-31 10:20:30.123456", 1, "2020-01-31 10:20:30.123456", nullptr,
     "2020-01-31 10:20:30.123"},
    // The general parser for other forms.
    {"month_name", "Jan 31 2020", 2, "2020-01-31", nullptr, nullptr},
    {"month_name_day_first", "31 January 2020 10:30", 1, "2020-01-31 10:30:00", nullptr, nullptr},
    {"month_name_with_pm", "January 31, 2020 10:30 PM", 1, "2020-01-31 22:30:00", nullptr, nullptr},
    {"us_numeric_with_short_time", "1/31/2020 10:30", 1, "2020-01-31 10:30:00", nullptr, nullptr},
    {"blanks_around", "   2020-01-31   ", 2, "2020-01-31", nullptr, nullptr},
};

class DateParse : public ::testing::TestWithParam<date_case> {};

void check_date(const date_case& c) {
    ole_date d(c.text);
    EXPECT_EQ(d.kind, c.kind);
    EXPECT_EQ(d.is_valid(), c.kind != 0);
    EXPECT_EQ(d.to_string(6), c.narrow6);
    const char* w = c.wide6 ? c.wide6 : c.narrow6;
    EXPECT_EQ(d.to_wstring(6), std::wstring(w, w + std::strlen(w)));
    EXPECT_EQ(d.to_string(3), c.narrow3 ? c.narrow3 : c.narrow6);
    // The value reads back to the same print.
    if (c.kind != 0) {
        EXPECT_EQ(ole_date(d.to_string(6)).to_string(6), c.narrow6);
    }
}

TEST_P(DateParse, Reading) { check_date(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Dates, DateParse, ::testing::ValuesIn(date_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DateFields, PureTimeFractionParts) {
    ole_date d("12:34:56.789");
    EXPECT_EQ(d.time.hour, 12);
    EXPECT_EQ(d.time.second, 56);
    EXPECT_EQ(d.time.milliseconds, 789);
    EXPECT_EQ(d.microseconds, 789000u);
    EXPECT_EQ(d.to_string(0), "0000-00-00 12:34:56");
}

TEST(DateFields, NegativeSpanKeepsSignField) {
    ole_date d("-838:59:59");
    EXPECT_TRUE(d.negative);
    EXPECT_EQ(d.time.hour, 838);
    double n;
    EXPECT_FALSE(d.to_variant_time(n));
}

TEST(DateFields, MidnightFlagOffPrintsTheTime) {
    ole_date d("20200131000000");
    EXPECT_EQ(d.to_string(6), "2020-01-31");
    d.midnight_as_date = 0;
    EXPECT_EQ(d.to_string(6), "2020-01-31 00:00:00");
}

TEST(DateFields, KindCanBeSetByCallers) {
    ole_date d("2020-01-31 10:20:30");
    d.kind = ole_date::date_only;
    EXPECT_EQ(d.to_string(6), "2020-01-31");
    ole_date t("10:20:30");
    EXPECT_EQ(t.to_string(6), "0000-00-00 10:20:30");
}

TEST(DateFields, WideConstructorMatchesNarrow) {
    ole_date a(std::wstring(L"2020-01-31 10:20:30.5"));
    ole_date b(std::string("2020-01-31 10:20:30.5"));
    EXPECT_TRUE(a == b);
}

TEST(DateNumbers, VariantTime) {
    double n = 0;
    ASSERT_TRUE(ole_date("2020-01-31 12:00:00").to_variant_time(n));
    EXPECT_DOUBLE_EQ(n, 43861.5);
    ASSERT_TRUE(ole_date("06:00:00").to_variant_time(n));
    EXPECT_DOUBLE_EQ(n, 0.25);
    EXPECT_FALSE(ole_date("2020-05-00").to_variant_time(n));
    EXPECT_FALSE(ole_date().to_variant_time(n));
}

TEST(DateHelpers, LeapYearsAndMonthLengths) {
    EXPECT_TRUE(ole_date::is_leap_year(2000));
    EXPECT_FALSE(ole_date::is_leap_year(1900));
    EXPECT_TRUE(ole_date::is_leap_year(2024));
    EXPECT_FALSE(ole_date::is_leap_year(2023));
    EXPECT_FALSE(ole_date::is_leap_year(0));  // taken as year 1
    EXPECT_EQ(ole_date::days_in_month(2024, 2), 29);
    EXPECT_EQ(ole_date::days_in_month(2023, 2), 28);
    EXPECT_EQ(ole_date::days_in_month(2023, 4), 30);
    EXPECT_EQ(ole_date::days_in_month(2023, 13), 0);
}

TEST(DateHelpers, ProcessMilliseconds) {
    ole_date d("10:00:00");
    d.process_milliseconds("7.25");
    EXPECT_EQ(d.time.second, 7);
    EXPECT_EQ(d.time.milliseconds, 250);
    EXPECT_EQ(d.microseconds, 250000u);
    EXPECT_THROW(d.process_milliseconds(nullptr), tk_mail_assertion);
}

TEST(DateHelpers, TimeZoneReaderAndSuffix) {
    ole_date d;
    d.process_timezone("2020-01-31 10:00:00 +02");
    EXPECT_EQ(d.zone, 2);
    ole_date n;
    n.process_timezone("10:00:00 -5");
    EXPECT_EQ(n.zone, -5);
    ole_date none;
    none.process_timezone("10:00 -5 -3");  // a further minus follows: no zone
    EXPECT_EQ(none.zone, 0);
    ole_date_timezone_enabled = true;
    ole_date z("2020-01-31 10:00:00 -5");
    ole_date_timezone_enabled = false;
    EXPECT_EQ(z.zone, -5);
    ole_date_timezone_enabled = true;
    std::string printed = z.to_string(0);
    ole_date_timezone_enabled = false;
    EXPECT_EQ(printed, "2020-01-31 10:00:00 -05:00");
    EXPECT_EQ(z.to_string(0), "2020-01-31 10:00:00");
}

TEST(DateParseUnderLocale, GermanLocaleChangesNothing) {
    bool ran = under_german_locale([] {
        for (const auto& c : date_cases) {
            SCOPED_TRACE(c.name);
            check_date(c);
        }
    });
    if (!ran) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
}

}  // namespace
