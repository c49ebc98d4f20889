#include "ole_date.h"

#include <cstring>

#include "tk_excep.h"
#include "tk_log.h"
#include "utf8.h"

bool ole_date_timezone_enabled = false;

namespace {

constexpr const char* source_name = "ole_date";

std::string_view trim_blanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

bool all_digits(std::string_view s) {
    for (char c : s)
        if (!is_digit(c)) return false;
    return true;
}

int fixed_number(std::string_view s, size_t pos, size_t len) {
    int v = 0;
    for (size_t i = pos; i < pos + len; ++i) v = v * 10 + (s[i] - '0');
    return v;
}

// Reads an integer as "%hd" does: blanks, an optional sign, at least one digit.
bool read_int(std::string_view s, size_t& pos, int& out) {
    size_t p = pos;
    while (p < s.size() && is_space(s[p])) ++p;
    bool neg = false;
    if (p < s.size() && (s[p] == '+' || s[p] == '-')) { neg = s[p] == '-'; ++p; }
    if (p >= s.size() || !is_digit(s[p])) return false;
    long v = 0;
    while (p < s.size() && is_digit(s[p])) {
        if (v < 1000000) v = v * 10 + (s[p] - '0');
        ++p;
    }
    out = static_cast<int>(neg ? -v : v);
    pos = p;
    return true;
}

// The "%s" token after pos: blanks skipped, then up to the next blank.
std::string_view read_token(std::string_view s, size_t pos) {
    while (pos < s.size() && is_space(s[pos])) ++pos;
    size_t end = pos;
    while (end < s.size() && !is_space(s[end])) ++end;
    return s.substr(pos, end - pos);
}

// A seconds text: whole seconds, then up to six digits of fraction, the
// seventh rounding (so 59.9999996 gives 60 s and no fraction).
bool read_seconds(std::string_view s, int& sec, uint32_t& micro) {
    size_t p = 0;
    while (p < s.size() && is_space(s[p])) ++p;
    sec = 0;
    micro = 0;
    if (p >= s.size() || !is_digit(s[p])) return false;
    while (p < s.size() && is_digit(s[p])) {
        if (sec < 100000) sec = sec * 10 + (s[p] - '0');
        ++p;
    }
    if (p < s.size() && s[p] == '.') {
        ++p;
        int n = 0;
        while (p < s.size() && is_digit(s[p]) && n < 6) { micro = micro * 10 + static_cast<uint32_t>(s[p] - '0'); ++p; ++n; }
        while (n < 6) { micro *= 10; ++n; }
        if (p < s.size() && is_digit(s[p]) && s[p] >= '5') ++micro;
    }
    return true;
}

// Writes v with at least width digits (leading zeros) at o; returns the end.
char* put_num(char* o, unsigned v, int width) {
    char buf[12];
    int n = 0;
    do { buf[n++] = static_cast<char>('0' + v % 10); v /= 10; } while (v);
    for (int i = n; i < width; ++i) *o++ = '0';
    while (n) *o++ = buf[--n];
    return o;
}

// Exactly two digits of v (0..99).
char* put2(char* o, unsigned v) {
    o[0] = static_cast<char>('0' + v / 10);
    o[1] = static_cast<char>('0' + v % 10);
    return o + 2;
}

// At least two digits: the common case without the loop.
char* put_2(char* o, unsigned v) { return v < 100 ? put2(o, v) : put_num(o, v, 2); }

}  // namespace


ole_date::ole_date(std::string_view text) { parse(text); }

ole_date::ole_date(std::wstring_view text) {
    std::string narrow;
    plat::utf8_encode_append(narrow, text);
    parse(narrow);
}

void ole_date::clear_time() {
    time = plat::systemtime{};
    microseconds = 0;
    negative = false;
}

void ole_date::parse(std::string_view text) {
    const bool log1 = tk_log_wants(1);
    const bool log2 = tk_log_wants(2);
    if (log1) tk_log(1, "ole_date::ole_date('%.*s')", static_cast<int>(text.size()), text.data());
    kind = invalid;
    zone = 0;
    midnight_as_date = 1;
    clear_time();
    std::string_view s = trim_blanks(text);
    if (log1) tk_log(1, "After tk_trim: %.*s", static_cast<int>(s.size()), s.data());
    if (ole_date_timezone_enabled) process_timezone(s);

    // 1 for AM, 2 for PM: the first of the four searches that finds one wins.
    int marker = 0;
    static const char* const markers[] = {"AM", "PM", "am", "pm"};
    for (int i = 0; i < 4; ++i) {
        size_t pos = s.find(markers[i]);
        if (pos != std::string_view::npos) {
            marker = (i % 2 == 0) ? 1 : 2;
            s = trim_blanks(s.substr(0, pos));
            break;
        }
    }
    if (log1) tk_log(1, "Again buf1=%.*s", static_cast<int>(s.size()), s.data());
    if (s.size() < 5) {
        if (log2) tk_log(2, "Invalid date/time format: '%.*s'", static_cast<int>(s.size()), s.data());
        return;
    }
    import_from_string(s);
    if (kind != invalid && marker != 0 && !negative) {
        if (marker == 2 && time.hour < 12) time.hour = static_cast<uint16_t>(time.hour + 12);
        if (marker == 1 && time.hour == 12) time.hour = 0;
    }
}

void ole_date::import_from_string(std::string_view s) {
    const bool log1 = tk_log_wants(1);
    if (log1) tk_log(1, "ole_date::import_from_string(%.*s)", static_cast<int>(s.size()), s.data());
    if (try_compact(s)) return;
    clear_time();
    kind = invalid;
    if (log1) tk_log(1, "Trying pure time format...");
    if (try_pure_time(s)) return;
    static const char seps[] = {'-', '/', '.'};
    for (int i = 0; i < 3; ++i) {
        clear_time();
        kind = invalid;
        if (log1) tk_log(1, "Trying datetime format #%d", i);
        if (try_separated(s, seps[i])) return;
    }
    clear_time();
    kind = invalid;
    if (try_system_parser(s)) return;
    clear_time();
    kind = invalid;
    if (tk_log_wants(2)) tk_log(2, "Invalid date/time format: '%.*s'", static_cast<int>(s.size()), s.data());
}

bool ole_date::try_compact(std::string_view s) {
    if ((s.size() != 14 && s.size() != 8) || !all_digits(s)) return false;
    const bool log1 = tk_log_wants(1);
    clear_time();
    int year = fixed_number(s, 0, 4), month = fixed_number(s, 4, 2), day = fixed_number(s, 6, 2);
    if (day > 31 && year < 32) {
        if (tk_log_wants(2)) tk_log(2, "Swap day and year: day=%d, year=%d", day, year);
        std::swap(day, year);
    }
    time.year = static_cast<uint16_t>(year);
    time.month = static_cast<uint16_t>(month);
    time.day = static_cast<uint16_t>(day);
    if (s.size() == 14) {
        if (log1) tk_log(1, "Trying timestamp format (1)...");
        time.hour = static_cast<uint16_t>(fixed_number(s, 8, 2));
        time.minute = static_cast<uint16_t>(fixed_number(s, 10, 2));
        time.second = static_cast<uint16_t>(fixed_number(s, 12, 2));
        kind = date_time;
    } else {
        if (log1) tk_log(1, "Trying timestamp format (2)...");
        kind = date_only;
    }
    if (is_valid()) return true;
    kind = invalid;
    return false;
}

bool ole_date::try_pure_time(std::string_view s) {
    size_t p = 0;
    while (p < s.size() && is_space(s[p])) ++p;
    bool neg = false;
    if (p < s.size() && (s[p] == '-' || s[p] == '+')) { neg = s[p] == '-'; ++p; }
    if (p >= s.size() || !is_digit(s[p])) return false;
    int hour = 0, minute = 0;
    while (p < s.size() && is_digit(s[p])) {
        if (hour < 100000) hour = hour * 10 + (s[p] - '0');
        ++p;
    }
    if (p >= s.size() || s[p] != ':') return false;
    ++p;
    if (!read_int(s, p, minute) || minute < 0) return false;
    if (hour > 65535) return false;
    int sec = 0;
    uint32_t micro = 0;
    if (p < s.size()) {
        if (s[p] != ':') return false;
        std::string_view token = read_token(s, p + 1);
        if (token.empty() || !read_seconds(token, sec, micro)) return false;
    }
    // Checked once the seconds are read: "12:34:99" is no time.
    if (minute >= 61 || sec >= 61) return false;
    kind = time_only;
    negative = neg;
    time.hour = static_cast<uint16_t>(hour);
    time.minute = static_cast<uint16_t>(minute);
    time.second = 0;
    set_seconds(sec, micro);
    return true;
}

bool ole_date::try_separated(std::string_view s, char sep) {
    size_t p = 0;
    int v[5] = {0, 0, 0, 0, 0};
    int items = 0;
    bool hour_negative = false;
    std::string_view seconds;
    if (read_int(s, p, v[0])) {
        items = 1;
        if (p < s.size() && s[p] == sep && (++p, read_int(s, p, v[1]))) {
            items = 2;
            if (p < s.size() && s[p] == sep && (++p, read_int(s, p, v[2]))) {
                items = 3;
                size_t q = p;
                if (sep == '-' && q < s.size() && (s[q] == 'T' || s[q] == 't') && q + 1 < s.size() && is_digit(s[q + 1])) ++q;
                size_t h = q;
                while (h < s.size() && is_space(s[h])) ++h;
                hour_negative = h < s.size() && s[h] == '-';
                if (read_int(s, q, v[3])) {
                    items = 4;
                    if (q < s.size() && s[q] == ':' && (++q, read_int(s, q, v[4]))) {
                        items = 5;
                        if (q < s.size() && s[q] == ':') {
                            seconds = read_token(s, q + 1);
                            if (!seconds.empty()) items = 6;
                        }
                    }
                }
            }
        }
    }
    if (items != 3 && items != 6) return false;
    int year = v[0], month = v[1], day = v[2];
    if (day > 31 && year < 32) {
        if (tk_log_wants(2)) tk_log(2, "Swap day and year: day=%d, year=%d", day, year);
        std::swap(day, year);
    }
    if (year < 0 || year > 65535 || month < 0 || month > 65535 || day < 0 || day > 65535) return false;
    time.year = static_cast<uint16_t>(year);
    time.month = static_cast<uint16_t>(month);
    time.day = static_cast<uint16_t>(day);
    const int fmt = sep == '-' ? 0 : sep == '/' ? 1 : 2;
    if (items == 3) {
        if (tk_log_wants(1)) tk_log(1, "Format #%d succeeded (3 items)", fmt);
        kind = date_only;
        if (is_valid()) return true;
        kind = invalid;
        return false;
    }
    if (tk_log_wants(1)) tk_log(1, "Format #%d succeeded (6 items)", fmt);
    int sec = 0;
    uint32_t micro = 0;
    if (!read_seconds(seconds, sec, micro)) return false;
    const bool zero_date = year == 0 && month == 0 && day == 0;
    if (!(zero_date || date_part_valid())) return false;
    if (v[4] < 0 || v[4] >= 61 || sec >= 61) return false;
    const int hour = v[3] < 0 ? -v[3] : v[3];
    if (zero_date && (hour_negative || hour > 23)) {
        // A time span printed after a zero date ("0000-00-00 -12:34:56").
        if (hour > 65535) return false;
        kind = time_only;
        negative = hour_negative;
        time.hour = static_cast<uint16_t>(hour);
        time.minute = static_cast<uint16_t>(v[4]);
        set_seconds(sec, micro);
        return true;
    }
    if (hour_negative || v[3] > 23) return false;
    kind = date_time;
    time.hour = static_cast<uint16_t>(v[3]);
    time.minute = static_cast<uint16_t>(v[4]);
    set_seconds(sec, micro);
    // A zero date ("0000-00-00 00:00:00") stays a date and time, as read.
    if (!zero_date) refine_type();
    return true;
}

bool ole_date::try_system_parser(std::string_view s) {
    std::wstring wide;
    plat::utf8_decode_append(wide, s);
    double d = 0;
    if (FAILED(plat::date_from_text(wide, d))) return false;
    plat::systemtime st;
    if (!plat::variant_time_to_system_time(d, st)) return false;
    if (tk_log_wants(1)) tk_log(1, "Got datetime using Microsoft API");
    time = st;
    microseconds = static_cast<uint32_t>(st.milliseconds) * 1000;
    kind = date_time;
    refine_type();
    return true;
}

bool ole_date::is_leap_year(int year) {
    if (year < 1) year = 1;
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int ole_date::days_in_month(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && is_leap_year(year) ? 29 : days[month - 1];
}

// Zero parts are allowed ("2020-05-00"), as MySQL keeps them.
bool ole_date::date_part_valid() const { return date_part_valid(tk_log_wants(1)); }

bool ole_date::date_part_valid(bool log1) const {
    if (time.month > 12) {
        if (log1) tk_log(1, "Invalid month");
        return false;
    }
    if (time.day > 31) {
        if (log1) tk_log(1, "Invalid day (1)");
        return false;
    }
    if (time.month != 0 && time.day > days_in_month(time.year, time.month)) {
        if (log1) tk_log(1, "Invalid day (2)");
        return false;
    }
    return true;
}

bool ole_date::is_valid() const {
    const bool log1 = tk_log_wants(1);
    if (log1) tk_log(1, "ole_date::is_valid");
    if (kind == invalid) return false;
    if (time.year == 0 && time.month == 0 && time.day == 0) {
        if (log1) tk_log(1, "DATETIME is a pute time");
        return time.minute < 61 && time.second < 61;
    }
    if (!date_part_valid(log1)) return false;
    if (time.minute >= 61 || time.second >= 61 || (kind == date_time && time.hour > 23)) {
        if (tk_log_wants(2)) tk_log(2, "Invalid time");
        return false;
    }
    return true;
}

void ole_date::set_seconds(int sec, uint32_t micro) {
    time.second = static_cast<uint16_t>(sec);
    if (micro >= 1000000) {
        const bool zero_in_date = time.year == 0 || time.month == 0 || time.day == 0;
        const bool rolls_day = kind == date_time && time.hour >= 23 && time.minute >= 59 && time.second >= 59;
        if (rolls_day && zero_in_date) {
            micro = 999999;  // no next day to carry into
        } else {
            micro = 0;
            carry_second();
        }
    }
    microseconds = micro;
    time.milliseconds = static_cast<uint16_t>(micro / 1000);  // never 1000
}

void ole_date::carry_second() {
    if (++time.second <= 59) return;
    time.second = static_cast<uint16_t>(time.second - 60);
    if (++time.minute <= 59) return;
    time.minute = static_cast<uint16_t>(time.minute - 60);
    ++time.hour;
    if (kind != date_time || time.hour <= 23) return;  // times keep hours beyond 24
    time.hour = 0;
    if (++time.day <= days_in_month(time.year, time.month)) return;
    time.day = 1;
    if (++time.month <= 12) return;
    time.month = 1;
    ++time.year;
}

void ole_date::process_milliseconds(const char* text) {
    if (!text) throw tk_mail_assertion(source_name, 581);
    const bool log1 = tk_log_wants(1);
    if (log1) {
        tk_log(1, "ole_date::process_milliseconds");
        tk_log(1, "Got row sec: '%s'", text);
    }
    int sec = 0;
    uint32_t micro = 0;
    read_seconds(text, sec, micro);
    set_seconds(sec, micro);
    if (log1) {
        tk_log(1, "Got sec: %d", time.second);
        tk_log(1, "Got msec: %d", time.milliseconds);
        tk_log(1, "Got microseconds: %d", static_cast<int>(microseconds));
    }
}

void ole_date::process_timezone(std::string_view text) {
    const bool log1 = tk_log_wants(1);
    if (log1) tk_log(1, "ole_date::process_timezone(%.*s)", static_cast<int>(text.size()), text.data());
    size_t pos = text.find('+');
    if (pos == std::string_view::npos) {
        size_t bm = text.find(" -");
        if (bm == std::string_view::npos || text.find('-', bm + 2) != std::string_view::npos) return;
        pos = bm + 1;
    }
    std::string_view z = text.substr(pos);
    if (log1) tk_log(1, "Got timezone string: %.*s", static_cast<int>(z.size()), z.data());
    size_t p = 0;
    int v = 0;
    if (read_int(z, p, v)) zone = v;
    if (log1) tk_log(1, "Got timezone value: %d", zone);
}

void ole_date::refine_type() {
    if (tk_log_wants(1))
        tk_log(1, "ole_date::refine_type(%d,%d,%d,%d,%d,%d)", time.year, time.month, time.day, time.hour,
               time.minute, time.second);
    if (time.year == 0 && time.month == 0 && time.day == 0) {
        if (tk_log_wants(1)) tk_log(1, "Switch to 'pure' time");
        kind = time_only;
    } else if (time.hour == 0 && time.minute == 0 && time.second == 0 && time.milliseconds == 0 &&
               microseconds == 0) {
        if (tk_log_wants(1)) tk_log(1, "Switch to 'pure' date");
        kind = date_only;
    }
}

void ole_date::append_text(std::string& out, int precision, bool wide_form) const {
    // The longest text (16-bit date and time fields, 32-bit fraction and
    // zone) is 62 bytes.
    char buf[96];
    char* o = buf;
    auto put_date = [&] {
        o = time.year < 10000 && time.year >= 1000 ? put2(put2(o, time.year / 100), time.year % 100)
                                                   : put_num(o, time.year, 4);
        *o++ = '-';
        o = put_2(o, time.month);
        *o++ = '-';
        o = put_2(o, time.day);
    };
    auto put_time = [&] {
        if (negative) *o++ = '-';
        o = put_2(o, time.hour);
        *o++ = ':';
        o = put_2(o, time.minute);
        *o++ = ':';
        o = put_2(o, time.second);
        if (precision == 6 && microseconds != 0) {
            *o++ = '.';
            if (microseconds < 1000000)
                o = put2(put2(put2(o, microseconds / 10000), microseconds / 100 % 100), microseconds % 100);
            else
                o = put_num(o, microseconds, 6);
        } else if (precision != 0 && (microseconds != 0 || time.milliseconds != 0)) {
            *o++ = '.';
            o = put_num(o, time.milliseconds, 3);
        }
    };
    switch (kind) {
    case date_time: {
        const bool zero_date = time.year == 0 && time.month == 0 && time.day == 0;
        const bool zero_time = time.hour == 0 && time.minute == 0 && time.second == 0 &&
                               time.milliseconds == 0 && microseconds == 0;
        put_date();
        if (!(zero_time && midnight_as_date && !zero_date)) {
            *o++ = ' ';
            put_time();
        }
        break;
    }
    case date_only:
        put_date();
        break;
    case time_only:
        if (!wide_form) {
            std::memcpy(o, "0000-00-00 ", 11);
            o += 11;
        }
        put_time();
        break;
    default:
        return;
    }
    if (ole_date_timezone_enabled && zone != 0) {
        *o++ = ' ';
        *o++ = zone > 0 ? '+' : '-';
        o = put_num(o, static_cast<unsigned>(zone > 0 ? zone : -zone), 2);
        std::memcpy(o, ":00", 3);
        o += 3;
    }
    out.append(buf, static_cast<size_t>(o - buf));
}

std::string ole_date::to_string(int precision) const {
    if (tk_log_wants(1)) tk_log(1, "ole_date::to_string(%d)", precision);
    std::string s;
    append_text(s, precision, false);
    if (tk_log_wants(1)) tk_log(1, "buf=%s", s.c_str());
    return s;
}

std::wstring ole_date::to_wstring(int precision) const {
    if (tk_log_wants(1)) tk_log(1, "ole_date::to_wstring(%d)", precision);
    std::string s;
    append_text(s, precision, true);
    std::wstring w(s.begin(), s.end());  // ASCII only
    if (tk_log_wants(1)) tk_wlog(1, L"buf=%s", w.c_str());
    return w;
}

bool ole_date::to_variant_time(double& out) const {
    if (kind == invalid || negative || time.hour > 23) return false;
    if (time.year == 0 && time.month == 0 && time.day == 0) {
        out = (time.hour * 3600.0 + time.minute * 60.0 + time.second + microseconds / 1e6) / 86400.0;
        return true;
    }
    plat::systemtime st = time;
    if (kind == date_only) st.hour = st.minute = st.second = st.milliseconds = 0;
    return plat::system_time_to_variant_time(st, out);
}

bool ole_date::operator==(const ole_date& o) const {
    return kind == o.kind && zone == o.zone && midnight_as_date == o.midnight_as_date &&
           microseconds == o.microseconds && negative == o.negative && time.year == o.time.year &&
           time.month == o.time.month && time.day == o.time.day && time.hour == o.time.hour &&
           time.minute == o.time.minute && time.second == o.time.second &&
           time.milliseconds == o.time.milliseconds;
}
