#include "sql_alive.h"

#include <poll.h>

#include <cerrno>

#include <mysql.h>

#include "sql_excep.h"
#include "tk_log.h"

namespace {

// Nothing is due on an idle connection: a readable socket (the end of the
// stream among others) means the server closed it or wrote unasked. A poll
// that fails says nothing either way.
bool shows_news(int socket) {
    pollfd p{socket, POLLIN, 0};
    int n;
    do {
        n = ::poll(&p, 1, 0);
    } while (n < 0 && errno == EINTR);
    return n != 0;
}

}  // namespace

void sql_check_idle(MYSQL* connection) {
    const int socket = static_cast<int>(mysql_get_socket(connection));
    // No socket: the client library closed the connection after a failure.
    if (socket >= 0 && !shows_news(socket)) return;
    tk_log(2, "The idle connection may have been closed: the server is pinged");
    if (mysql_ping(connection) != 0) throw sql_exception(connection);
}
