#include "tk_log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>

#include "tk_logpath.h"
#include "unique_file.h"
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
        plat::unique_file emptied(std::fopen(path.c_str(), "wb"));
        truncated = true;
    }
}

namespace {

// The first failure of the log file is told once; later lines are dropped.
void log_failed(tk_logger* lg, int err) {
    if (lg->failed.exchange(true)) return;
    if (lg->on_failure) lg->on_failure("Cannot write the log file " + lg->path + ": " + std::strerror(err));
}

}  // namespace

void tk_logger::truncate_once() {
    if (enabled && !failed && !truncated.exchange(true)) {
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) {
            log_failed(this, errno);
        } else if (std::fclose(f) != 0) {
            log_failed(this, errno);
        }
    }
}

namespace {

// Steps shared by both printers: returns the open file, or null when the line is dropped.
plat::unique_file begin_line(int level) {
    tk_logger* lg = tk_singleton<tk_logger>::peek();
    if (!lg || !lg->enabled || lg->failed) return nullptr;
    lg->truncate_once();
    if (level < lg->min_level || lg->failed) return nullptr;
    plat::unique_file f(std::fopen(lg->path.c_str(), "ab"));
    if (!f) {
        log_failed(lg, errno);
        return nullptr;
    }
    if (lg->timestamps) {
        std::time_t now = std::time(nullptr);
        std::tm tmv{};
        localtime_r(&now, &tmv);
        std::fprintf(f.get(), "%02d:%02d:%02d ", tmv.tm_hour, tmv.tm_min, tmv.tm_sec);
    }
    return f;
}

// Ends the line and closes the file, checking both.
void end_line(plat::unique_file file) {
    FILE* f = file.release();
    tk_logger* lg = tk_singleton<tk_logger>::peek();
    if (lg && lg->line_end) std::fputs("\r\n", f);
    const bool write_failed = std::ferror(f) != 0;
    int err = errno;
    if (std::fclose(f) != 0 || write_failed) {
        if (!write_failed) err = errno;
        if (lg) log_failed(lg, err ? err : EIO);
    }
}

}  // namespace

void tk_log(int level, const char* fmt, ...) {
    plat::unique_file f = begin_line(level);
    if (!f) return;
    va_list ap;
    va_start(ap, fmt);
    std::string text = plat::vformat(fmt, ap);
    va_end(ap);
    std::fwrite(text.data(), 1, text.size(), f.get());
    end_line(std::move(f));
}

void tk_wlog(int level, const wchar_t* fmt, ...) {
    plat::unique_file f = begin_line(level);
    if (!f) return;
    va_list ap;
    va_start(ap, fmt);
    std::wstring text = plat::vwformat(fmt, ap);
    va_end(ap);
    std::string bytes = plat::utf8_encode(text);  // the ANSI code page is UTF-8 too
    std::fwrite(bytes.data(), 1, bytes.size(), f.get());
    end_line(std::move(f));
}
