#include "sql_kill.h"

#include <exception>
#include <string>

#include <mysql.h>
#include <mysqld_error.h>

#include "sql_conn.h"
#include "sql_engi.h"
#include "sql_excep.h"
#include "sql_run.h"
#include "tk_log.h"

unsigned long sql_session_id(MYSQL* connection) noexcept { return connection ? mysql_thread_id(connection) : 0; }

size_t sql_end_sessions(const sql_login& where, const std::vector<unsigned long>& thread_ids) noexcept {
    size_t wanted = 0;
    for (unsigned long id : thread_ids)
        if (id != 0) ++wanted;
    if (wanted == 0) return 0;
    size_t ended = 0;
    try {
        sql_connection connection;
        MYSQL* mysql = connection.get();
        sql_engine::set_client_options(mysql);
        unsigned int limit = static_cast<unsigned int>(sql_end_sessions_limit.count());
        if (mysql_options(mysql, MYSQL_OPT_CONNECT_TIMEOUT, &limit) != 0) throw sql_exception(mysql);
        if (mysql_options(mysql, MYSQL_OPT_READ_TIMEOUT, &limit) != 0) throw sql_exception(mysql);
        if (mysql_options(mysql, MYSQL_OPT_WRITE_TIMEOUT, &limit) != 0) throw sql_exception(mysql);
        if (!mysql_real_connect(mysql, where.host.c_str(), where.user.c_str(), where.password.c_str(), nullptr,
                                where.port, nullptr, CLIENT_REMEMBER_OPTIONS))
            throw sql_exception(mysql);
        for (unsigned long id : thread_ids) {
            if (id == 0) continue;
            try {
                sql_execute(mysql, "KILL " + std::to_string(id));
                tk_log(2, "Server session %lu ended", id);
                ++ended;
            } catch (const sql_exception& e) {
                // A session that ended by itself meanwhile is no failure.
                if (e.error_number() == ER_NO_SUCH_THREAD) {
                    ++ended;
                    continue;
                }
                if (sql_is_connection_lost(e)) throw;
                tk_log(3, "Server session %lu cannot be ended: %s", id, e.what());
            }
        }
    } catch (const std::exception& e) {
        tk_log(3, "The server sessions of the run cannot be ended: %s", e.what());
    }
    return ended;
}
