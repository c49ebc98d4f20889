#include "floor_common.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

MYSQL *floor_connect(const char *program, int argc, char **argv) {
    if (argc != 7) {
        fprintf(stderr, "usage: %s HOST PORT USER PASSWORD DATABASE QUERY|" FLOOR_EACH_TABLE "\n",
                argv[0]);
        return NULL;
    }
    MYSQL *db = mysql_init(NULL);
    if (!db) {
        fprintf(stderr, "%s: out of memory\n", program);
        return NULL;
    }
    const char *what = NULL;
    if (!mysql_real_connect(db, argv[1], argv[3], argv[4], argv[5],
                            (unsigned)strtoul(argv[2], NULL, 10), NULL, 0))
        what = "connect";
    else if (mysql_set_character_set(db, "utf8mb4"))
        what = "set character set";
    if (what) {
        fprintf(stderr, "%s: %s: %s\n", program, what, mysql_error(db));
        mysql_close(db);
        return NULL;
    }
    return db;
}

int floor_queries_open(floor_queries *q, const char *program, MYSQL *db, const char *arg) {
    memset(q, 0, sizeof *q);
    if (strcmp(arg, FLOOR_EACH_TABLE) != 0) {
        q->single = arg;
        return 0;
    }
    if (mysql_query(db, "SHOW TABLES")) {
        fprintf(stderr, "%s: list tables: %s\n", program, mysql_error(db));
        return -1;
    }
    /* Stored whole, so that the connection is free for the streams. */
    q->tables = mysql_store_result(db);
    if (!q->tables) {
        fprintf(stderr, "%s: list tables: %s\n", program,
                mysql_errno(db) ? mysql_error(db) : "no result");
        return -1;
    }
    return 0;
}

int floor_queries_next(floor_queries *q, const char *program, const char **query) {
    if (q->single) {
        if (q->done)
            return 0;
        q->done = 1;
        ++q->count;
        *query = q->single;
        return 1;
    }
    MYSQL_ROW row = mysql_fetch_row(q->tables);
    if (!row)
        return 0;
    unsigned long name_len = mysql_fetch_lengths(q->tables)[0];
    /* SELECT * FROM `name` with every backquote of the name doubled. */
    size_t need = sizeof "SELECT * FROM ``" + 2 * (size_t)name_len;
    if (need > q->size) {
        char *grown = realloc(q->text, need);
        if (!grown) {
            fprintf(stderr, "%s: out of memory\n", program);
            return -1;
        }
        q->text = grown;
        q->size = need;
    }
    char *p = q->text + sprintf(q->text, "SELECT * FROM `");
    for (unsigned long i = 0; i < name_len; ++i) {
        if (row[0][i] == '`')
            *p++ = '`';
        *p++ = row[0][i];
    }
    *p++ = '`';
    *p = '\0';
    ++q->count;
    *query = q->text;
    return 1;
}

void floor_queries_close(floor_queries *q) {
    if (q->tables)
        mysql_free_result(q->tables);
    free(q->text);
    memset(q, 0, sizeof *q);
}

void floor_report(const floor_queries *q, unsigned long long rows, unsigned long long bytes) {
    if (q->single)
        printf("rows=%llu bytes=%llu\n", rows, bytes);
    else
        printf("rows=%llu bytes=%llu tables=%llu\n", rows, bytes, q->count);
}

int floor_main(const char *program, int argc, char **argv, floor_stream_fn *stream) {
    MYSQL *db = floor_connect(program, argc, argv);
    if (!db)
        return argc == 7 ? 1 : 2;
    floor_queries queries;
    if (floor_queries_open(&queries, program, db, argv[6])) {
        mysql_close(db);
        return 1;
    }
    unsigned long long rows = 0, bytes = 0;
    const char *query;
    int got;
    while ((got = floor_queries_next(&queries, program, &query)) == 1)
        if (stream(db, query, &rows, &bytes))
            break;
    if (got == 1 || got < 0) {
        floor_queries_close(&queries);
        mysql_close(db);
        return 1;
    }
    floor_report(&queries, rows, bytes);
    floor_queries_close(&queries);
    mysql_close(db);
    return 0;
}
