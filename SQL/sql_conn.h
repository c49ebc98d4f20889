// The client object of the connection to a MySQL server: made by the client
// library, closed with its connection when the owner goes.
#pragma once

typedef struct st_mysql MYSQL;
typedef struct st_mysql_stmt MYSQL_STMT;

class sql_connection {
public:
    // A fresh client object (mysql_init); throws sql_exception when the
    // client library cannot make one.
    sql_connection();
    // Closes the connection, if one is open, and frees the client object.
    ~sql_connection();
    sql_connection(const sql_connection&) = delete;
    sql_connection& operator=(const sql_connection&) = delete;

    // Never null.
    MYSQL* get() const noexcept { return m_mysql; }
    // Closes the client object and takes a fresh one (no options set): the
    // old pointer is gone. When no fresh one can be made this throws and the
    // old one stays.
    void reset();
    // The socket of the open connection; -1 when there is none.
    int socket() const noexcept;

private:
    static MYSQL* make();
    // Gives up the kept statement of m_mysql before it closes.
    void forget() noexcept;

    MYSQL* m_mysql;
};

// A statement handle whose rows were all read is kept for the next statement
// on the same connection: the client library then closes the old statement
// on the server in the packet that prepares and runs the new one. Only a
// connection owned by an sql_connection keeps one, until it closes.

// The kept handle of the connection, or a fresh one (mysql_stmt_init); null
// when none can be made.
MYSQL_STMT* sql_take_statement(MYSQL* connection);
// Keeps statement (all its rows read) for the connection; closes it when the
// connection keeps none or has one already.
void sql_keep_statement(MYSQL* connection, MYSQL_STMT* statement) noexcept;
