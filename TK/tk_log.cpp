#include "tk_log.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "tk_logpath.h"
#include "utf8.h"
#include "wformat.h"

bool tk_log_ansi_output = false;

tk_logger::tk_logger(const char* p, bool en, int level, bool ts)
    : path(p ? p : ""), min_level(level), line_end(true), enabled(false), timestamps(ts) {
    // Without a path the log lies beside the program; found while still
    // disabled, so the path lookup's own log lines go nowhere.
    if (!p) {
        try {
            path = tk_default_log_path();
        } catch (const std::exception&) {
            path.clear();
        }
    }
    enabled = en;
    if (enabled) {
        if (FILE* f = std::fopen(path.c_str(), "wb")) std::fclose(f);
        truncated = true;
    }
}

void tk_logger::truncate_once() {
    if (enabled && !truncated) {
        if (FILE* f = std::fopen(path.c_str(), "wb")) std::fclose(f);
        truncated = true;
    }
}

namespace {

// Steps shared by both printers: returns the open file, or null when the line is dropped.
FILE* begin_line(int level) {
    tk_logger* lg = tk_singleton<tk_logger>::peek();
    if (!lg || !lg->enabled) return nullptr;
    lg->truncate_once();
    if (level < lg->min_level) return nullptr;
    FILE* f = std::fopen(lg->path.c_str(), "ab");
    if (!f) return nullptr;
    if (lg->timestamps) {
        std::time_t now = std::time(nullptr);
        std::tm tmv{};
        localtime_r(&now, &tmv);
        std::fprintf(f, "%02d:%02d:%02d ", tmv.tm_hour, tmv.tm_min, tmv.tm_sec);
    }
    return f;
}

void end_line(FILE* f) {
    tk_logger* lg = tk_singleton<tk_logger>::peek();
    if (lg && lg->line_end) std::fputs("\r\n", f);
    std::fclose(f);
}

}  // namespace

bool tk_log_wants(int level) {
    tk_logger* lg = tk_singleton<tk_logger>::peek();
    return lg && lg->enabled && level >= lg->min_level;
}

void tk_log(int level, const char* fmt, ...) {
    FILE* f = begin_line(level);
    if (!f) return;
    va_list ap;
    va_start(ap, fmt);
    std::string text = plat::vformat(fmt, ap);
    va_end(ap);
    std::fwrite(text.data(), 1, text.size(), f);
    end_line(f);
}

void tk_wlog(int level, const wchar_t* fmt, ...) {
    FILE* f = begin_line(level);
    if (!f) return;
    va_list ap;
    va_start(ap, fmt);
    std::wstring text = plat::vwformat(fmt, ap);
    va_end(ap);
    std::string bytes = plat::utf8_encode(text);  // the ANSI code page is UTF-8 too
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    end_line(f);
}
