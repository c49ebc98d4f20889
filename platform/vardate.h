// The Automation date: days since 1899-12-30 as a double, the fraction the
// time of day. Before the epoch the whole part counts days backwards while
// the fraction still runs forwards (-1.25 is 1899-12-29 06:00).
#pragma once
#include <cstdint>
#include <string_view>

#include "vartypes.h"

namespace plat {

struct systemtime {
    uint16_t year = 0;
    uint16_t month = 0;
    uint16_t day_of_week = 0;  // 0 Sunday
    uint16_t day = 0;
    uint16_t hour = 0;
    uint16_t minute = 0;
    uint16_t second = 0;
    uint16_t milliseconds = 0;
};

// Valid calendar dates from year 100 to 9999, times up to 23:59:59.999.
bool system_time_to_variant_time(const systemtime& st, double& out);
// Rounds to the millisecond; false outside the years 100 to 9999.
bool variant_time_to_system_time(double date, systemtime& out);

// Free-form date text in English (United States) conventions: numeric dates
// month first ("1/31/2020", "2020-01-31"), month names ("Jan 31 2020",
// "31 January 2020", "January 31, 2020"), an optional time ("10:30",
// "10:30:15", "10 PM") with AM/PM. DISP_E_TYPEMISMATCH otherwise.
HRESULT date_from_text(std::wstring_view text, double& out);

}  // namespace plat
