// The column form of a decimal as the tests spell it out: its exact text,
// padded with zeros to that many places.
#pragma once
#include <string>

#include "decimal.h"

namespace fennrow_test {

inline std::string decimal_padded_text(const plat::decimal& d, unsigned places) {
    std::string s = plat::dec_to_text(d);
    const size_t point = s.find('.');
    const size_t have = point == std::string::npos ? 0 : s.size() - point - 1;
    if (have < places) {
        if (point == std::string::npos) s += '.';
        s.append(places - have, '0');
    }
    return s;
}

}  // namespace fennrow_test
