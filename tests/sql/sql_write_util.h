// Helpers of the writing-side tests: a connected engine with a fresh database
// opened for writing, the statements sent meanwhile, and builders of
// schemas and records.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sql_db_write.h"
#include "sql_engi.h"
#include "sql_report.h"
#include "sql_run.h"
#include "sql_table_write.h"
#include "sql_test_util.h"
#include "test_server.h"
#include "tk_excep.h"
#include "tk_utils.h"
#include "udb_idx.h"
#include "udb_record.h"
#include "udb_schema.h"

namespace sql_write_test {

inline std::wstring w(const std::string& utf8) { return tk_from_utf8(utf8); }
inline std::string u(const std::wstring& text) { return tk_to_utf8(text); }

// Collects the statements sent while it lives (all of them, or those that
// start with one of the prefixes).
class statement_log {
public:
    explicit statement_log(std::vector<std::string> prefixes = {}) : prefixes_(std::move(prefixes)) {
        sql_set_statement_hook([this](std::string_view s) {
            if (prefixes_.empty()) {
                lines.emplace_back(s);
                return;
            }
            for (const std::string& p : prefixes_)
                if (s.substr(0, p.size()) == p) {
                    lines.emplace_back(s);
                    return;
                }
        });
    }
    ~statement_log() { sql_set_statement_hook(nullptr); }
    statement_log(const statement_log&) = delete;
    statement_log& operator=(const statement_log&) = delete;

    std::vector<std::string> lines;

private:
    std::vector<std::string> prefixes_;
};

// The statements that change data or definitions (not the SHOW and SELECT
// statements that opening a table runs).
inline std::vector<std::string> write_prefixes() {
    return {"CREATE", "ALTER", "INSERT", "REPLACE", "UPDATE", "DELETE", "delete", "LOCK", "UNLOCK", "SET FOREIGN"};
}

inline t_ftd column(const std::wstring& name, VARTYPE vt, uint32_t size = 0, bool not_null = false,
                    bool auto_increment = false) {
    t_ftd d;
    d.name = name;
    d.vartype = vt;
    d.size = size;
    d.b_not_null = not_null;
    d.auto_increment = auto_increment;
    return d;
}

inline udb_schema schema_of(const std::vector<t_ftd>& columns) {
    udb_schema s;
    for (const t_ftd& c : columns) s.push_back(c);
    return s;
}

inline udb_indexes indexes_of(const std::vector<udb_index>& list) {
    udb_indexes out;
    for (const udb_index& i : list) out.push_back(i);
    return out;
}

inline std::unique_ptr<udb_field> field(const std::wstring& name, const ole_variant& value, uint32_t size = 0) {
    return std::make_unique<udb_field>(name, size, value);
}

inline ole_variant i4(int32_t v) {
    ole_variant x;
    x.set_i4(v);
    return x;
}

inline ole_variant text(const std::wstring& v) { return ole_variant(v); }

inline ole_variant null_value() {
    ole_variant x;
    x.set_null();
    return x;
}

// A record of (name, value) pairs.
inline udb_record record_of(std::vector<std::pair<std::wstring, ole_variant>> values) {
    udb_record r;
    for (auto& [name, value] : values) r.push_back(field(name, value));
    return r;
}

// The server-wide SQL mode a writing-side test runs under: the server's own;
// the server's own with NO_BACKSLASH_ESCAPES and ANSI_QUOTES added (as on
// servers set up for other databases); or with MySQL 8's default modes and
// TRADITIONAL added. Tests of the second and third kind change the global
// mode: FENNROW_SERVER_MODE_TESTS marks them server-wide, so CTest runs them
// alone.
enum class server_mode { server_default, no_backslash_ansi_quotes, mysql8_traditional };

inline std::string mode_name(server_mode m) {
    switch (m) {
    case server_mode::server_default: return "server_default";
    case server_mode::no_backslash_ansi_quotes: return "no_backslash_escapes_ansi_quotes";
    case server_mode::mysql8_traditional: return "mysql8_default_traditional";
    }
    return "unknown";
}

// The marks of a fixture run once per server mode (its parameter names end
// in the mode's name).
#define FENNROW_SERVER_MODE_TESTS(fixture)                                                       \
    FENNROW_SERVER_TESTS(fixture);                                                               \
    FENNROW_SERVER_WIDE_PARAMS(fixture, mode_name(server_mode::no_backslash_ansi_quotes));       \
    FENNROW_SERVER_WIDE_PARAMS(fixture, mode_name(server_mode::mysql8_traditional))

// The modes a server mode adds to the server's own (empty for its own).
inline std::string added_modes(server_mode m) {
    switch (m) {
    case server_mode::server_default: return "";
    case server_mode::no_backslash_ansi_quotes: return "NO_BACKSLASH_ESCAPES,ANSI_QUOTES";
    case server_mode::mysql8_traditional:
        return "ONLY_FULL_GROUP_BY,STRICT_TRANS_TABLES,NO_ZERO_IN_DATE,NO_ZERO_DATE,ERROR_FOR_DIVISION_BY_ZERO,"
               "NO_ENGINE_SUBSTITUTION,TRADITIONAL";
    }
    return "";
}

// Adds modes to the server's global sql_mode while it lives and puts the
// old mode back on every path. Only connections opened afterwards see it.
class global_sql_mode_scope {
public:
    explicit global_sql_mode_scope(const std::string& added)
        : scope_("sql_mode", with_added(fennrow_test::global_setting("sql_mode"), added)) {}

private:
    static std::string with_added(const std::string& mode, const std::string& added) {
        return mode.empty() ? added : mode + "," + added;
    }
    fennrow_test::global_setting_scope scope_;
};

// An engine connected to the test server with a fresh database opened with
// the given mode (writing side: 0; mode 0x100 makes rows replace existing ones).
// The engine connects after the server mode of the test is set; db_ (the
// checking session) keeps the server's own mode.
class write_fixture : public ::testing::Test {
protected:
    virtual server_mode mode() const { return server_mode::server_default; }

    void SetUp() override {
        sql_test::use_empty_home();
        const auto srv = fennrow_test::require_test_server();
        own_mode_ = fennrow_test::global_setting("sql_mode");
        if (mode() != server_mode::server_default)
            mode_scope_ = std::make_unique<global_sql_mode_scope>(added_modes(mode()));
        engine_ = std::make_unique<sql_engine>();
        engine_->connect(srv.host, srv.user, srv.password, static_cast<int32_t>(srv.port));
        ASSERT_GE(engine_->get_server_version(), 0x50001u);
    }
    void TearDown() override {
        db_obj_.reset();
        engine_.reset();
        mode_scope_.reset();
    }

    sql_write_database& open(uint32_t mode = 0) {
        db_obj_.reset();
        db_obj_ = engine_->open_db(w(db_.name()), mode, std::wstring());
        return dynamic_cast<sql_write_database&>(*db_obj_);
    }
    sql_write_database& database() { return dynamic_cast<sql_write_database&>(*db_obj_); }
    static sql_write_table& as_table(udb_recordset& rs) { return dynamic_cast<sql_write_table&>(rs); }

    // Every row of the table on the server, NULL cells as std::nullopt.
    std::vector<fennrow_test::test_sql_conn::row> rows(const std::string& sql) { return db_.conn().rows(sql); }

    fennrow_test::test_database db_{"sqlw"};
    std::string own_mode_;  // the server's global mode before the test changed it
    std::unique_ptr<global_sql_mode_scope> mode_scope_;
    std::unique_ptr<sql_engine> engine_;
    std::unique_ptr<udb_database> db_obj_;
};

// A writing-side fixture run once per server mode.
class mode_fixture : public write_fixture, public ::testing::WithParamInterface<server_mode> {
protected:
    server_mode mode() const override { return GetParam(); }
};

inline auto every_server_mode() {
    return ::testing::Values(server_mode::server_default, server_mode::no_backslash_ansi_quotes,
                             server_mode::mysql8_traditional);
}

inline std::string server_mode_param_name(const ::testing::TestParamInfo<server_mode>& info) {
    return mode_name(info.param);
}

// Reports of the process's error reporter while it lives ("context: text").
class report_capture {
public:
    report_capture() {
        sql_set_error_reporter([this](const tk_exception& e, const std::string& context) {
            lines.push_back(context + ": " + e.what());
        });
    }
    ~report_capture() { sql_set_error_reporter(nullptr); }
    report_capture(const report_capture&) = delete;
    report_capture& operator=(const report_capture&) = delete;

    std::vector<std::string> lines;
};

}  // namespace sql_write_test
