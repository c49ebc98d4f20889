// Helpers of the tests of the MySQL writing side: an engine that follows a
// chosen server version, captured log lines, assertion checks and builders
// of fields and descriptors.
#pragma once
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "sql_engi.h"
#include "sql_test_util.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "udb_field.h"
#include "udb_schema.h"
#include "utf8.h"

namespace sql_write_test {

inline constexpr uint32_t new_server = 0x0A0B00;  // 10.11.0
inline constexpr uint32_t first_new = 0x40100;    // 4.1.0
inline constexpr uint32_t last_old = 0x400FF;
inline constexpr uint32_t old_server = 0x32336;   // 3.23.54

// An engine (not connected) whose version the writing side decides by.
struct engine_at {
    explicit engine_at(uint32_t version) {
        sql_test::use_empty_home();
        engine.set_server_version(version);
    }
    sql_engine engine;
};

// Log lines of level 1 and up written while the object lives.
class log_capture {
public:
    log_capture() {
        char tmpl[] = "/tmp/fn-sqlw-log.XXXXXX";
        if (::mkdtemp(tmpl)) dir_ = tmpl;
        path_ = dir_ + "/run.log";
        logger_ = std::make_unique<tk_logger>(path_.c_str(), true, 1, false);
    }
    ~log_capture() {
        logger_.reset();
        ::unlink(path_.c_str());
        ::rmdir(dir_.c_str());
    }
    std::string text() const {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    bool has_line(const std::string& line) const {
        return ("\r\n" + text()).find("\r\n" + line + "\r\n") != std::string::npos;
    }

private:
    std::string dir_, path_;
    std::unique_ptr<tk_logger> logger_;
};

// The call raises the internal error of that source file and line.
inline void expect_assertion(const std::function<void()>& call, const char* file, uint32_t line) {
    const tk_mail_assertion expected(file, line);
    try {
        call();
        ADD_FAILURE() << "no internal error " << file << ":" << line;
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(e.code(), expected.code()) << e.what();
        EXPECT_STREQ(e.what(), expected.what());
    }
}

inline std::wstring w(const std::string& utf8) { return plat::utf8_decode(utf8); }
inline std::string u8(const std::wstring& text) { return plat::utf8_encode(text); }

inline t_ftd column(const std::wstring& name, VARTYPE vt, uint32_t size = 0, uint32_t reserved = 0) {
    t_ftd d;
    d.name = name;
    d.vartype = vt;
    d.size = size;
    d.reserved = reserved;
    return d;
}

inline udb_field field(const std::wstring& name, const ole_variant& value, uint32_t size = 0) {
    return udb_field(name, size, value);
}

// Runs body once in the current locale and once under de_DE.UTF-8 (when
// installed), putting the locale back afterwards.
inline void in_locales(const std::function<void()>& body) {
    body();
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) return;
    SCOPED_TRACE("locale de_DE.UTF-8");
    body();
    std::setlocale(LC_ALL, saved.c_str());
}

}  // namespace sql_write_test
