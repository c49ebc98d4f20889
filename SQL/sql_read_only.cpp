#include "sql_read_only.h"

#include <mysql.h>

#include <optional>
#include <string>
#include <string_view>

#include <mysqld_error.h>

#include "sql_engi.h"
#include "sql_excep.h"
#include "sql_run.h"
#include "tk_excep.h"
#include "tk_log.h"

namespace {

constexpr const char* cannot = "The MySQL session cannot be made read-only";

// The session's read-only setting: 1 when its transactions read only.
// Servers name it tx_read_only or transaction_read_only.
std::optional<uint64_t> session_read_only(MYSQL* connection) {
    try {
        return sql_scalar_u64(connection, std::string_view("SELECT @@session.tx_read_only"));
    } catch (const sql_exception& e) {
        if (e.error_number() != ER_UNKNOWN_SYSTEM_VARIABLE) throw;
    }
    return sql_scalar_u64(connection, std::string_view("SELECT @@session.transaction_read_only"));
}

}  // namespace

void sql_make_session_read_only(MYSQL* connection) {
    tk_log(2, "Making the session read-only...");
    std::optional<uint64_t> read_only;
    try {
        sql_execute(connection, std::string_view("SET SESSION TRANSACTION READ ONLY"));
        read_only = session_read_only(connection);
    } catch (const tk_exception& e) {
        throw tk_exception(std::string(cannot) + ": " + e.what(), 1);
    }
    if (read_only.value_or(0) != 1) throw tk_exception(std::string(cannot), 1);
}

void sql_make_session_read_write(MYSQL* connection) noexcept {
    try {
        sql_execute(connection, std::string_view("SET SESSION TRANSACTION READ WRITE"));
    } catch (const std::exception& e) {
        tk_log(2, "The session stays read-only: %s", e.what());
    }
}

sql_read_only_transaction::sql_read_only_transaction(MYSQL* connection) : connection_(connection) {
    sql_execute(connection_, std::string_view("START TRANSACTION READ ONLY"));
}

sql_read_only_transaction::~sql_read_only_transaction() {
    try {
        sql_execute(connection_, std::string_view("ROLLBACK"));
    } catch (const std::exception& e) {
        tk_log(2, "The read-only transaction cannot be ended: %s", e.what());
    }
}

sql_read_only_session::sql_read_only_session(sql_engine& engine) : engine_(engine) { hold(); }

sql_read_only_session::~sql_read_only_session() {
    if (engine_.is_connected() && holds_current()) sql_make_session_read_write(connection_);
}

bool sql_read_only_session::holds_current() const {
    MYSQL* current = engine_.get_connection();
    return connection_ == current && thread_ == mysql_thread_id(current);
}

void sql_read_only_session::hold() {
    if (holds_current()) return;
    MYSQL* current = engine_.get_connection();
    sql_make_session_read_only(current);
    connection_ = current;
    thread_ = mysql_thread_id(current);
}
