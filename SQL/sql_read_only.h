// Sessions and transactions in which the server refuses every change of
// data: a conversion run reads its tables and stored queries in them.
#pragma once
typedef struct st_mysql MYSQL;

class sql_engine;

// Makes every later transaction of the session read-only (a statement on
// its own as well) and reads back that the server took it. Throws
// tk_exception (level 1) when the server refuses it or the session still
// writes.
void sql_make_session_read_only(MYSQL* connection);
// The session's transactions may write again; a failure is logged.
void sql_make_session_read_write(MYSQL* connection) noexcept;

// A read-only transaction for as long as the object lives. It ends with a
// rollback (a failure is logged); a stream of the connection is closed
// before the object goes.
class sql_read_only_transaction {
public:
    // Throws sql_exception when the server refuses it.
    explicit sql_read_only_transaction(MYSQL* connection);
    ~sql_read_only_transaction();
    sql_read_only_transaction(const sql_read_only_transaction&) = delete;
    sql_read_only_transaction& operator=(const sql_read_only_transaction&) = delete;

private:
    MYSQL* connection_;
};

// The engine's session reads only for as long as the object lives; hold()
// does the same for a session opened since (a reconnect).
class sql_read_only_session {
public:
    // Throws like sql_make_session_read_only.
    explicit sql_read_only_session(sql_engine& engine);
    // The session made read-only, when it is still open, may write again.
    ~sql_read_only_session();
    sql_read_only_session(const sql_read_only_session&) = delete;
    sql_read_only_session& operator=(const sql_read_only_session&) = delete;

    // Makes the engine's session read-only unless it was made so already
    // (nothing is sent then). Throws like sql_make_session_read_only.
    void hold();

private:
    bool holds_current() const;

    sql_engine& engine_;
    MYSQL* connection_ = nullptr;
    unsigned long thread_ = 0;
};
