/* The benchmark's floor: streams every row of one query from the server and
 * throws it away. Nothing is converted or written, so its time is what any
 * client needs just to receive the rows.
 *
 *   bench_floor HOST PORT USER PASSWORD DATABASE QUERY
 *
 * Prints "rows=N bytes=M" (M = sum of the field lengths) on stdout. */
#include <mysql.h>
#include <stdio.h>
#include <stdlib.h>

static int fail(MYSQL *db, const char *what) {
    fprintf(stderr, "bench_floor: %s: %s\n", what, mysql_error(db));
    mysql_close(db);
    return 1;
}

int main(int argc, char **argv) {
    if (argc != 7) {
        fprintf(stderr, "usage: %s HOST PORT USER PASSWORD DATABASE QUERY\n", argv[0]);
        return 2;
    }
    MYSQL *db = mysql_init(NULL);
    if (!db) {
        fprintf(stderr, "bench_floor: out of memory\n");
        return 1;
    }
    if (!mysql_real_connect(db, argv[1], argv[3], argv[4], argv[5],
                            (unsigned)strtoul(argv[2], NULL, 10), NULL, 0))
        return fail(db, "connect");
    if (mysql_set_character_set(db, "utf8mb4"))
        return fail(db, "set character set");
    if (mysql_query(db, argv[6]))
        return fail(db, "query");
    MYSQL_RES *res = mysql_use_result(db);
    if (!res)
        return fail(db, "use result");

    unsigned fields = mysql_num_fields(res);
    unsigned long long rows = 0, bytes = 0;
    MYSQL_ROW row;
    while ((row = mysql_fetch_row(res)) != NULL) {
        unsigned long *len = mysql_fetch_lengths(res);
        for (unsigned i = 0; i < fields; ++i)
            bytes += len[i];
        ++rows;
    }
    /* A NULL row is either the end or a broken stream. */
    if (mysql_errno(db)) {
        mysql_free_result(res);
        return fail(db, "fetch");
    }
    mysql_free_result(res);
    mysql_close(db);
    printf("rows=%llu bytes=%llu\n", rows, bytes);
    return 0;
}
