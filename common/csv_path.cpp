#include "csv_path.h"

#include <cstdint>

#include "utf8.h"

bool csv_native_path(const std::wstring& path, std::string& out) {
    if (path.empty()) return false;
    for (wchar_t c : path) {
        auto cp = static_cast<uint32_t>(c);
        if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    }
    out = plat::utf8_encode(path);
    return true;
}
