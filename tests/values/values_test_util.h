// Helpers shared by the value tests.
#pragma once
#include <clocale>
#include <string>

#include "ole_var.h"

// Runs the body under de_DE.UTF-8 and restores the locale; false when that
// locale is not installed (the caller skips).
template <class F>
bool under_german_locale(F body) {
    const char* old = std::setlocale(LC_ALL, nullptr);
    std::string saved = old ? old : "C";
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) return false;
    body();
    std::setlocale(LC_ALL, saved.c_str());
    return true;
}

inline ole_variant make_decimal(const char* text) {
    plat::decimal d;
    if (FAILED(plat::dec_from_text(text, d))) throw std::runtime_error("bad decimal in test");
    ole_variant v;
    v.set_decimal(d);
    return v;
}

inline ole_variant make_cy(int64_t raw) {
    ole_variant v;
    v.set_cy(plat::currency{raw});
    return v;
}

inline ole_variant make_date(const char* text) {
    ole_variant v;
    v.set_date(ole_date(text));
    return v;
}
