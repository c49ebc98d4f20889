/* What the two floor programs share: the command line, the connection and
 * the queries to stream.
 *
 *   PROGRAM HOST PORT USER PASSWORD DATABASE QUERY
 *   PROGRAM HOST PORT USER PASSWORD DATABASE --each-table
 *
 * With --each-table the program lists the tables of DATABASE (SHOW TABLES)
 * and streams SELECT * of each in turn, on the one connection. */
#ifndef BENCH_FLOOR_COMMON_H
#define BENCH_FLOOR_COMMON_H

#include <mysql.h>
#include <stddef.h>

#define FLOOR_EACH_TABLE "--each-table"

/* Checks the arguments and connects (utf8mb4). Prints the usage or the
 * error and returns NULL on failure. */
MYSQL *floor_connect(const char *program, int argc, char **argv);

/* The queries to stream, one after the other. */
typedef struct {
    const char *single;   /* the one query given, or NULL */
    MYSQL_RES *tables;    /* stored SHOW TABLES (--each-table), or NULL */
    char *text;           /* the current SELECT * of a table */
    size_t size;          /* bytes held by text */
    int done;             /* the single query was handed out */
    unsigned long long count; /* queries handed out */
} floor_queries;

/* Starts the queries for the QUERY argument; on failure prints the error
 * and returns -1 (nothing to close). */
int floor_queries_open(floor_queries *q, const char *program, MYSQL *db, const char *arg);

/* The next query in *query: returns 1, 0 at the end, -1 (error printed) when
 * out of memory. The text stays valid until the next call. */
int floor_queries_next(floor_queries *q, const char *program, const char **query);

void floor_queries_close(floor_queries *q);

/* Prints the totals: "rows=N bytes=M", with " tables=K" for --each-table. */
void floor_report(const floor_queries *q, unsigned long long rows, unsigned long long bytes);

/* Receives the rows of one query, adding to *rows and *bytes; returns 0, or
 * -1 with the error printed. */
typedef int floor_stream_fn(MYSQL *db, const char *query, unsigned long long *rows,
                            unsigned long long *bytes);

/* The whole program: connects, streams every query with `stream`, prints
 * the totals. Returns the exit code (2 for bad arguments, 1 on failure). */
int floor_main(const char *program, int argc, char **argv, floor_stream_fn *stream);

#endif
