#include "vardate.h"

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace plat {

namespace {

// Days from 1970-01-01 of a proleptic Gregorian date.
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civil_from_days(int64_t z, int& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int>(yy + (m <= 2));
}

const int64_t epoch_days = days_from_civil(1899, 12, 30);

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int month_days(int y, int m) {
    static const int dm[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leap(y) ? 29 : dm[m - 1];
}

constexpr double min_date = -657434.0;          // 100-01-01
constexpr double max_date = 2958466.0;          // 10000-01-01 (exclusive)

}  // namespace

bool system_time_to_variant_time(const systemtime& st, double& out) {
    if (st.year < 100 || st.year > 9999 || st.month < 1 || st.month > 12 || st.day < 1 ||
        st.day > month_days(st.year, st.month) || st.hour > 23 || st.minute > 59 ||
        st.second > 59 || st.milliseconds > 999)
        return false;
    int64_t days = days_from_civil(st.year, st.month, st.day) - epoch_days;
    double frac = (st.hour * 3600.0 + st.minute * 60.0 + st.second + st.milliseconds / 1000.0) / 86400.0;
    out = days >= 0 ? static_cast<double>(days) + frac : static_cast<double>(days) - frac;
    return true;
}

bool variant_time_to_system_time(double date, systemtime& out) {
    if (!(date > min_date - 1.0 && date < max_date)) return false;
    double whole = std::trunc(date);
    double frac = std::fabs(date - whole);
    int64_t days = static_cast<int64_t>(whole);
    int64_t ms = std::llround(frac * 86400000.0);
    if (ms >= 86400000) { ms -= 86400000; ++days; }
    int y;
    unsigned m, d;
    civil_from_days(days + epoch_days, y, m, d);
    if (y < 100 || y > 9999) return false;
    out.year = static_cast<uint16_t>(y);
    out.month = static_cast<uint16_t>(m);
    out.day = static_cast<uint16_t>(d);
    int64_t wd = (days + epoch_days + 4) % 7;  // 1970-01-01 was a Thursday
    if (wd < 0) wd += 7;
    out.day_of_week = static_cast<uint16_t>(wd);
    out.hour = static_cast<uint16_t>(ms / 3600000);
    out.minute = static_cast<uint16_t>(ms / 60000 % 60);
    out.second = static_cast<uint16_t>(ms / 1000 % 60);
    out.milliseconds = static_cast<uint16_t>(ms % 1000);
    return true;
}

namespace {

struct token {
    enum kind_t { number, word, sep } kind;
    std::wstring text;
    long value = 0;
    int digits = 0;
    wchar_t ch = 0;
};

wchar_t lower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c; }

int month_of(const std::wstring& w) {
    static const wchar_t* names[] = {L"january", L"february", L"march",     L"april",
                                     L"may",     L"june",     L"july",      L"august",
                                     L"september", L"october", L"november", L"december"};
    if (w.size() < 3) return 0;
    for (int i = 0; i < 12; ++i) {
        std::wstring n = names[i];
        if (n.starts_with(w)) return i + 1;
        if (w == L"sept" && i == 8) return 9;
    }
    return 0;
}

bool is_weekday(const std::wstring& w) {
    static const wchar_t* names[] = {L"sunday", L"monday", L"tuesday", L"wednesday",
                                     L"thursday", L"friday", L"saturday"};
    if (w.size() < 3) return false;
    for (auto* n : names) {
        std::wstring s = n;
        if (s.starts_with(w)) return true;
    }
    return false;
}

}  // namespace

HRESULT date_from_text(std::wstring_view text, double& out) {
    std::vector<token> toks;
    for (size_t i = 0; i < text.size();) {
        wchar_t c = text[i];
        if (c == L' ' || c == L'\t') { ++i; continue; }
        if (c >= L'0' && c <= L'9') {
            token t{token::number, {}, 0, 0, 0};
            while (i < text.size() && text[i] >= L'0' && text[i] <= L'9') {
                if (t.value < 100000000) t.value = t.value * 10 + (text[i] - L'0');
                ++t.digits;
                ++i;
            }
            toks.push_back(t);
        } else if ((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z')) {
            token t{token::word, {}, 0, 0, 0};
            while (i < text.size() && ((text[i] >= L'a' && text[i] <= L'z') || (text[i] >= L'A' && text[i] <= L'Z')))
                t.text += lower(text[i++]);
            if (!t.text.empty() && t.text.back() == L'.') t.text.pop_back();
            toks.push_back(t);
        } else if (c == L'/' || c == L'-' || c == L'.' || c == L',' || c == L':') {
            token t{token::sep, {}, 0, 0, c};
            toks.push_back(t);
            ++i;
        } else {
            return DISP_E_TYPEMISMATCH;
        }
    }
    std::vector<token> nums;  // date numbers
    int month_name = 0;
    bool have_time = false, am = false, pm = false;
    long hh = 0, mi = 0, ss = 0, ms = 0;
    for (size_t k = 0; k < toks.size(); ++k) {
        const token& t = toks[k];
        if (t.kind == token::number) {
            bool time_start = k + 1 < toks.size() && toks[k + 1].kind == token::sep && toks[k + 1].ch == L':';
            bool hour_ampm = k + 1 < toks.size() && toks[k + 1].kind == token::word &&
                             (toks[k + 1].text == L"am" || toks[k + 1].text == L"pm" ||
                              toks[k + 1].text == L"a" || toks[k + 1].text == L"p");
            if ((time_start || hour_ampm) && !have_time) {
                // A signed hour is no time of day.
                if (k > 0 && toks[k - 1].kind == token::sep && toks[k - 1].ch == L'-') return DISP_E_TYPEMISMATCH;
                have_time = true;
                hh = t.value;
                if (time_start) {
                    if (k + 2 >= toks.size() || toks[k + 2].kind != token::number) return DISP_E_TYPEMISMATCH;
                    mi = toks[k + 2].value;
                    k += 2;
                    if (k + 2 < toks.size() && toks[k + 1].kind == token::sep && toks[k + 1].ch == L':' &&
                        toks[k + 2].kind == token::number) {
                        ss = toks[k + 2].value;
                        k += 2;
                        if (k + 2 < toks.size() && toks[k + 1].kind == token::sep && toks[k + 1].ch == L'.' &&
                            toks[k + 2].kind == token::number) {
                            const token& f = toks[k + 2];
                            // First three digits of the fraction.
                            long v = f.value;
                            int dgt = f.digits;
                            while (dgt > 3) { v /= 10; --dgt; }
                            while (dgt < 3) { v *= 10; ++dgt; }
                            ms = v;
                            k += 2;
                        }
                    }
                }
            } else {
                nums.push_back(t);
            }
        } else if (t.kind == token::word) {
            if (t.text == L"am" || t.text == L"a") am = true;
            else if (t.text == L"pm" || t.text == L"p") pm = true;
            else if (int m = month_of(t.text)) {
                if (month_name) return DISP_E_TYPEMISMATCH;
                month_name = m;
            } else if (!is_weekday(t.text)) {
                return DISP_E_TYPEMISMATCH;
            }
        }
    }
    if (am || pm) {
        if (!have_time || hh < 1 || hh > 12) return DISP_E_TYPEMISMATCH;
        if (am && hh == 12) hh = 0;
        if (pm && hh < 12) hh += 12;
    }
    if (hh > 23 || mi > 59 || ss > 59) return DISP_E_TYPEMISMATCH;
    long y = 0, m = 0, d = 0;
    auto full_year = [](const token& t) -> long {
        if (t.digits <= 2) return t.value < 30 ? 2000 + t.value : 1900 + t.value;
        return t.value;
    };
    if (nums.empty() && !month_name) {
        if (!have_time) return DISP_E_TYPEMISMATCH;
        y = 1899; m = 12; d = 30;
    } else if (month_name) {
        m = month_name;
        if (nums.size() != 2) return DISP_E_TYPEMISMATCH;
        if (nums[0].digits > 2 || nums[0].value > 31) { y = full_year(nums[0]); d = nums[1].value; }
        else { d = nums[0].value; y = full_year(nums[1]); }
    } else {
        if (nums.size() != 3) return DISP_E_TYPEMISMATCH;
        if (nums[0].digits > 2 || nums[0].value > 31) {
            y = full_year(nums[0]); m = nums[1].value; d = nums[2].value;
        } else {
            m = nums[0].value; d = nums[1].value; y = full_year(nums[2]);
            if (m > 12 && d <= 12) std::swap(m, d);
        }
    }
    if (y < 100 || y > 9999 || m < 1 || m > 12 || d < 1 || d > month_days(static_cast<int>(y), static_cast<int>(m)))
        return DISP_E_TYPEMISMATCH;
    systemtime st;
    st.year = static_cast<uint16_t>(y);
    st.month = static_cast<uint16_t>(m);
    st.day = static_cast<uint16_t>(d);
    st.hour = static_cast<uint16_t>(hh);
    st.minute = static_cast<uint16_t>(mi);
    st.second = static_cast<uint16_t>(ss);
    st.milliseconds = static_cast<uint16_t>(ms);
    return system_time_to_variant_time(st, out) ? S_OK : DISP_E_TYPEMISMATCH;
}

}  // namespace plat
