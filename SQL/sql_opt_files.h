// The client option files as the MariaDB client library reads them at
// connect: /etc/my.cnf, /etc/mysql/my.cnf, my.cnf in $MARIADB_HOME (or else
// $MYSQL_HOME), ~/.my.cnf, each with the files it includes; the groups
// [client], [client-server], [client-mariadb] and the program's own group.
#pragma once
#include <optional>
#include <string>
#include <vector>

struct sql_option_line {
    std::string file;
    // The key, with '-' for '_'.
    std::string key;
    // The text after '=', without blanks and quotes around it; none for a
    // key written alone.
    std::optional<std::string> value;
    // The library applies the line: it has a value, or it is the file's last
    // line without a line end. A key alone on an ended line is skipped there.
    bool applied = false;
};

// The lines that set one of `keys` (an '_' counts as '-') in the groups the
// library reads and `group`, in the library's order. Files that cannot be
// read are passed over, as the library does.
std::vector<sql_option_line> sql_find_option(const std::vector<std::string>& keys, const std::string& group);
