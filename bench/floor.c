/* The benchmark's floor for the text protocol: streams every row of one
 * query from the server (mysql_use_result + mysql_fetch_row) and throws it
 * away. Nothing is converted or written, so its time is what any client
 * needs just to receive the rows as text.
 *
 *   bench_floor HOST PORT USER PASSWORD DATABASE QUERY
 *   bench_floor HOST PORT USER PASSWORD DATABASE --each-table
 *
 * --each-table streams SELECT * of every table of DATABASE in turn on the
 * one connection. Prints "rows=N bytes=M" (M = sum of the field lengths) on
 * stdout, with " tables=K" for --each-table. */
#include <mysql.h>
#include <stdio.h>
#include <stdlib.h>

#include "floor_common.h"

static const char program[] = "bench_floor";

/* Streams one query into the totals; prints the error and returns -1 on
 * failure. */
static int stream(MYSQL *db, const char *query, unsigned long long *rows,
                  unsigned long long *bytes) {
    if (mysql_query(db, query)) {
        fprintf(stderr, "%s: query: %s\n", program, mysql_error(db));
        return -1;
    }
    MYSQL_RES *res = mysql_use_result(db);
    if (!res) {
        if (mysql_errno(db))
            fprintf(stderr, "%s: use result: %s\n", program, mysql_error(db));
        else
            fprintf(stderr, "%s: the query gives no rows: %s\n", program, query);
        return -1;
    }
    unsigned fields = mysql_num_fields(res);
    MYSQL_ROW row;
    while ((row = mysql_fetch_row(res)) != NULL) {
        unsigned long *len = mysql_fetch_lengths(res);
        for (unsigned i = 0; i < fields; ++i)
            *bytes += len[i];
        ++*rows;
    }
    /* A NULL row is either the end or a broken stream. */
    int failed = mysql_errno(db) != 0;
    if (failed)
        fprintf(stderr, "%s: fetch: %s\n", program, mysql_error(db));
    mysql_free_result(res);
    return failed ? -1 : 0;
}

int main(int argc, char **argv) { return floor_main(program, argc, argv, stream); }
