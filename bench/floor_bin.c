/* The benchmark's floor for the binary protocol: streams every row of one
 * query as a prepared statement (mysql_stmt_prepare, mysql_stmt_execute,
 * mysql_stmt_fetch row by row, without mysql_stmt_store_result) and throws
 * it away. The server then sends numbers and dates in their binary form, so
 * its time is what any client needs just to receive the rows.
 *
 *   bench_floor_bin HOST PORT USER PASSWORD DATABASE QUERY
 *   bench_floor_bin HOST PORT USER PASSWORD DATABASE --each-table
 *
 * --each-table streams SELECT * of every table of DATABASE in turn on the
 * one connection, one prepared statement per table.
 *
 * Every column is bound in its own type, from the result's metadata:
 * integers in their own width (signed or not), FLOAT and DOUBLE as such,
 * DATE, TIME, DATETIME and TIMESTAMP as MYSQL_TIME, and every column the
 * protocol sends as a byte string (texts, BLOBs, decimals, BIT, ENUM, SET,
 * JSON, geometry) into a buffer of the column's declared width, capped at
 * 64 KiB. A longer value comes truncated; its rest is fetched with
 * mysql_stmt_fetch_column in pieces of that buffer, so every byte reaches
 * the client's memory while the memory stays flat.
 *
 * Prints "rows=N bytes=M" on stdout, with " tables=K" for --each-table;
 * M is the sum of the lengths of the byte-string values plus the size of
 * each other non-NULL value as bound (e.g. 4 for INT, 8 for DOUBLE,
 * sizeof(MYSQL_TIME) for a date). */
#include <mysql.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "floor_common.h"

static const char program[] = "bench_floor_bin";

/* The largest buffer of a byte-string column. */
#define MAX_BUFFER (64UL * 1024)

/* One column's bound value. */
typedef struct {
    union {
        signed char tiny;
        short small;
        int medium;
        long long big;
        float single;
        double real;
        MYSQL_TIME time;
    } value;
    char *bytes;           /* byte-string columns: the buffer */
    unsigned long length;  /* the value's whole length */
    my_bool is_null;
    my_bool error;
} cell;

/* The buffers of one statement's result. */
typedef struct {
    MYSQL_BIND *binds;
    cell *cells;
    unsigned count;
} binding;

static void binding_free(binding *b) {
    if (b->cells)
        for (unsigned i = 0; i < b->count; ++i)
            free(b->cells[i].bytes);
    free(b->cells);
    free(b->binds);
    memset(b, 0, sizeof *b);
}

/* Binds every column in its own type; returns -1 when out of memory. */
static int binding_make(binding *b, MYSQL_FIELD *fields, unsigned count) {
    memset(b, 0, sizeof *b);
    b->binds = calloc(count ? count : 1, sizeof *b->binds);
    b->cells = calloc(count ? count : 1, sizeof *b->cells);
    if (!b->binds || !b->cells)
        return -1;
    b->count = count;
    for (unsigned i = 0; i < count; ++i) {
        MYSQL_BIND *bind = &b->binds[i];
        cell *c = &b->cells[i];
        bind->length = &c->length;
        bind->is_null = &c->is_null;
        bind->error = &c->error;
        bind->is_unsigned = (fields[i].flags & UNSIGNED_FLAG) != 0;
        switch (fields[i].type) {
        case MYSQL_TYPE_NULL:
            bind->buffer_type = MYSQL_TYPE_NULL;
            break;
        case MYSQL_TYPE_TINY:
            bind->buffer_type = MYSQL_TYPE_TINY;
            bind->buffer = &c->value.tiny;
            break;
        case MYSQL_TYPE_SHORT:
        case MYSQL_TYPE_YEAR: /* sent as 16 bits */
            bind->buffer_type = MYSQL_TYPE_SHORT;
            bind->buffer = &c->value.small;
            break;
        case MYSQL_TYPE_INT24: /* sent as 32 bits */
        case MYSQL_TYPE_LONG:
            bind->buffer_type = MYSQL_TYPE_LONG;
            bind->buffer = &c->value.medium;
            break;
        case MYSQL_TYPE_LONGLONG:
            bind->buffer_type = MYSQL_TYPE_LONGLONG;
            bind->buffer = &c->value.big;
            break;
        case MYSQL_TYPE_FLOAT:
            bind->buffer_type = MYSQL_TYPE_FLOAT;
            bind->buffer = &c->value.single;
            break;
        case MYSQL_TYPE_DOUBLE:
            bind->buffer_type = MYSQL_TYPE_DOUBLE;
            bind->buffer = &c->value.real;
            break;
        case MYSQL_TYPE_DATE:
        case MYSQL_TYPE_NEWDATE:
        case MYSQL_TYPE_TIME:
        case MYSQL_TYPE_DATETIME:
        case MYSQL_TYPE_TIMESTAMP:
            bind->buffer_type = fields[i].type == MYSQL_TYPE_NEWDATE ? MYSQL_TYPE_DATE
                                                                     : fields[i].type;
            bind->buffer = &c->value.time;
            break;
        default: {
            unsigned long size = fields[i].length;
            if (size > MAX_BUFFER)
                size = MAX_BUFFER;
            if (size == 0)
                size = 1;
            c->bytes = malloc(size);
            if (!c->bytes)
                return -1;
            bind->buffer_type = MYSQL_TYPE_BLOB;
            bind->buffer = c->bytes;
            bind->buffer_length = size;
            break;
        }
        }
    }
    return 0;
}

/* The size of a bound value that is not a byte string. */
static unsigned long fixed_size(enum enum_field_types type) {
    switch (type) {
    case MYSQL_TYPE_TINY: return 1;
    case MYSQL_TYPE_SHORT: return 2;
    case MYSQL_TYPE_LONG:
    case MYSQL_TYPE_FLOAT: return 4;
    case MYSQL_TYPE_LONGLONG:
    case MYSQL_TYPE_DOUBLE: return 8;
    case MYSQL_TYPE_NULL: return 0;
    default: return sizeof(MYSQL_TIME);
    }
}

/* Fetches the rest of a truncated value, a buffer at a time. */
static int fetch_rest(MYSQL_STMT *stmt, const binding *b, unsigned column) {
    const MYSQL_BIND *bound = &b->binds[column];
    unsigned long whole = b->cells[column].length;
    for (unsigned long offset = bound->buffer_length; offset < whole;
         offset += bound->buffer_length) {
        unsigned long length = 0;
        my_bool is_null = 0, error = 0;
        MYSQL_BIND piece;
        memset(&piece, 0, sizeof piece);
        piece.buffer_type = MYSQL_TYPE_BLOB;
        piece.buffer = bound->buffer;
        piece.buffer_length = bound->buffer_length;
        piece.length = &length;
        piece.is_null = &is_null;
        piece.error = &error;
        if (mysql_stmt_fetch_column(stmt, &piece, column, offset))
            return -1;
    }
    return 0;
}

/* Reports a failed step of a statement: its error, or the connection's. */
static int stmt_fail(MYSQL *db, MYSQL_STMT *stmt, const char *what) {
    fprintf(stderr, "%s: %s: %s\n", program, what,
            mysql_stmt_errno(stmt) ? mysql_stmt_error(stmt)
            : mysql_errno(db)      ? mysql_error(db)
                                   : "unknown error");
    return -1;
}

/* Streams the rows of an executed statement into the totals. */
static int fetch_rows(MYSQL *db, MYSQL_STMT *stmt, const binding *b,
                      unsigned long long *rows, unsigned long long *bytes) {
    for (;;) {
        int rc = mysql_stmt_fetch(stmt);
        if (rc == MYSQL_NO_DATA)
            return 0;
        if (rc != 0 && rc != MYSQL_DATA_TRUNCATED)
            return stmt_fail(db, stmt, "fetch");
        for (unsigned i = 0; i < b->count; ++i) {
            const cell *c = &b->cells[i];
            if (c->is_null)
                continue;
            if (!c->bytes) {
                *bytes += fixed_size(b->binds[i].buffer_type);
                continue;
            }
            *bytes += c->length;
            if (c->length > b->binds[i].buffer_length && fetch_rest(stmt, b, i))
                return stmt_fail(db, stmt, "fetch column");
        }
        ++*rows;
    }
}

/* Prepares, executes and streams one query into the totals; prints the error
 * and returns -1 on failure. */
static int stream(MYSQL *db, const char *query, unsigned long long *rows,
                  unsigned long long *bytes) {
    MYSQL_STMT *stmt = mysql_stmt_init(db);
    if (!stmt) {
        fprintf(stderr, "%s: statement: %s\n", program, mysql_error(db));
        return -1;
    }
    MYSQL_RES *meta = NULL;
    binding b = {0};
    int result = -1;
    if (mysql_stmt_prepare(stmt, query, (unsigned long)strlen(query))) {
        stmt_fail(db, stmt, "prepare");
        goto done;
    }
    meta = mysql_stmt_result_metadata(stmt);
    if (!meta) {
        if (mysql_stmt_errno(stmt))
            stmt_fail(db, stmt, "result metadata");
        else
            fprintf(stderr, "%s: the query gives no rows: %s\n", program, query);
        goto done;
    }
    if (binding_make(&b, mysql_fetch_fields(meta), mysql_num_fields(meta))) {
        fprintf(stderr, "%s: out of memory\n", program);
        goto done;
    }
    if (mysql_stmt_bind_result(stmt, b.binds)) {
        stmt_fail(db, stmt, "bind result");
        goto done;
    }
    if (mysql_stmt_execute(stmt)) {
        stmt_fail(db, stmt, "execute");
        goto done;
    }
    if (fetch_rows(db, stmt, &b, rows, bytes))
        goto done;
    result = 0;
done:
    binding_free(&b);
    if (meta)
        mysql_free_result(meta);
    if (mysql_stmt_close(stmt) && result == 0) {
        fprintf(stderr, "%s: close statement: %s\n", program, mysql_error(db));
        result = -1;
    }
    return result;
}

int main(int argc, char **argv) { return floor_main(program, argc, argv, stream); }
