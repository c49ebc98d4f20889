// Whether an idle connection is still open: the server may close it between
// two statements (a KILL from another session, a time-out, a restart).
#pragma once

typedef struct st_mysql MYSQL;

// Between statements only. When the socket of the idle connection shows that
// the server closed it, or sent something unasked, the server is pinged;
// throws sql_exception when the connection is gone. A sound idle connection
// costs no round trip.
void sql_check_idle(MYSQL* connection);
