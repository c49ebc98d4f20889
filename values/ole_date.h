// One date, time or date-time value as servers and users write it.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "vardate.h"

// Process-wide switch: when set the parser reads a zone offset and the
// printers append it. Nothing in the system sets it.
extern bool ole_date_timezone_enabled;

class ole_date {
public:
    enum kind_t : uint32_t { invalid = 0, date_time = 1, date_only = 2, time_only = 3 };

    uint32_t kind = invalid;
    int32_t zone = 0;              // hours; only from the zone reader
    uint32_t midnight_as_date = 1; // a date-time at exactly 00:00:00 prints as a date
    uint32_t microseconds = 0;     // 0 .. 999999
    plat::systemtime time{};       // day_of_week is not read
    // A time of day read with a leading minus (MySQL TIME spans, "-12:34:56");
    // the hour of a time may then exceed 24 ("838:59:59").
    bool negative = false;

    ole_date() = default;
    explicit ole_date(std::string_view text);
    explicit ole_date(std::wstring_view text);
    ole_date(const std::string& text) : ole_date(std::string_view(text)) {}
    ole_date(const std::wstring& text) : ole_date(std::wstring_view(text)) {}
    ole_date(const char* text) : ole_date(std::string_view(text ? text : "")) {}
    ole_date(const wchar_t* text) : ole_date(std::wstring_view(text ? text : L"")) {}

    // Tries the formats in order; sets the kind and the fields.
    void import_from_string(std::string_view text);
    bool is_valid() const;
    static bool is_leap_year(int year);
    static int days_in_month(int year, int month);  // 0 for a month out of 1..12
    // Splits a seconds text ("56", "56.789") into second, milliseconds and
    // microseconds; a fraction that rounds up carries upwards.
    void process_milliseconds(const char* seconds_text);
    void process_timezone(std::string_view text);
    void refine_type();

    // Precision 6: microseconds; other non-zero: milliseconds; 0: whole seconds.
    std::string to_string(int precision) const;
    std::wstring to_wstring(int precision) const;
    // Appends the narrow (to_string) or the wide form (to_wstring, pure
    // times without the date part) as UTF-8 to out.
    void append_text(std::string& out, int precision, bool wide_form) const;

    // The Automation date number of the value; false when it has none
    // (invalid, zero parts in the date, a negative or long time).
    bool to_variant_time(double& out) const;

    bool operator==(const ole_date& o) const;

private:
    void clear_time();
    void parse(std::string_view text);
    bool try_compact(std::string_view text);
    bool try_pure_time(std::string_view text);
    bool try_separated(std::string_view text, char sep);
    bool try_system_parser(std::string_view text);
    void carry_second();
    void set_seconds(int sec, uint32_t micro);
    bool date_part_valid() const;
    bool date_part_valid(bool log1) const;
};
