// The client object of the connection to a MySQL server: made by the client
// library, closed with its connection when the owner goes.
#pragma once

typedef struct st_mysql MYSQL;

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

    MYSQL* m_mysql;
};
