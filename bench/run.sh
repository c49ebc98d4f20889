#!/usr/bin/env bash
# Conversion speed and memory of BRENNOCK against the usual client tools, on
# one machine, with a throwaway MariaDB server (see the README, "Benchmark").
#
# Generates, with SQL and fixed hash seeds (the same rows on every run), the
# database fennrow_bench with the tables
#   wide        1,000,000 rows of INT, BIGINT, DECIMAL(12,2), DOUBLE, texts
#               with quotes, delimiters, line breaks and non-ASCII characters,
#               DATETIME(6), DATE, NULLs and a small BLOB
#   wide_small  the first 100,000 rows of wide (for the memory comparison)
#   wide_float  the rows of wide with three more columns: a FLOAT, a BIT(5)
#               and a DOUBLE(10,3)
#   narrow      5,000,000 rows of two INT columns
#   lineitem    6,000,000 rows of 16 columns shaped like the order lines of
#               a well-known decision-support benchmark: 4 integers, 4
#               DECIMAL(15,2), 2 CHAR(1), 3 DATE, CHAR(25), CHAR(10) and a
#               VARCHAR(44) comment
# and converts each table with
#   floor       bench/floor.c: receives the rows by the text protocol
#               (mysql_use_result + mysql_fetch_row) and throws them away
#   floor_bin   bench/floor_bin.c: receives the rows by the binary protocol
#               of a prepared statement (mysql_stmt_fetch, every column bound
#               in its own type, nothing stored) and throws them away
#   BRENNOCK    --n_delim=2 --inc_fnames into a fresh folder
#   mysql       mariadb --batch --raw --quick -e 'SELECT * FROM t' > file
#   dump --tab  mariadb-dump --tab=DIR (the server writes the file itself)
# Then the many-small-tables case: the database fennrow_bench_tables with
# 2,000 tables of 100 rows (INT key, VARCHAR, DECIMAL, DATETIME), converted
# whole by BRENNOCK (no --tab_file) against each floor streaming SELECT * of
# every table in turn on one connection (--each-table).
# Measures wall time, rows/s, output bytes/s, peak resident memory and CPU
# time with /usr/bin/time -v. Prints two markdown tables.
#
# Settings (environment):
#   BENCH_SCALE=0.1        scale every row count and the number of small
#                          tables (default 1)
#   BENCH_WIDE_ROWS, BENCH_SMALL_ROWS, BENCH_NARROW_ROWS, BENCH_LINEITEM_ROWS
#                          exact row counts
#   BENCH_SMALL_TABLES     exact number of tables of fennrow_bench_tables
#   BENCH_RUNS=5           runs per tool and table; the median run (by wall
#                          time) is shown with its CPU time (default 5; the
#                          peak memory is the highest of all)
#   BENCH_BRENNOCK=path    use this BRENNOCK instead of building one
#   BENCH_BUILD=dir        build folder (default build-bench, Release, no GUI)
#   BENCH_WORK=dir         work folder (default: a new folder under /tmp)
#   BENCH_KEEP=1           keep the work folder (outputs, logs, profile)
#   BENCH_RESULTS=file     also write the results table to this file
#   BENCH_POOL=1G          the server's InnoDB buffer pool
#   BENCH_PROFILE=callgrind  also profile BRENNOCK on wide_small with
#                          valgrind --tool=callgrind
#   BENCH_PROFILE=perf     also profile BRENNOCK on wide with perf record
#   JOBS=4                 parallel compile jobs, and connections creating
#                          the small tables
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
SERVER=$ROOT/tests/server/mariadb-test-server.sh
SCALE=${BENCH_SCALE:-1}
RUNS=${BENCH_RUNS:-5}
BUILD=${BENCH_BUILD:-$ROOT/build-bench}
JOBS=${JOBS:-4}
POOL=${BENCH_POOL:-1G}
PROFILE=${BENCH_PROFILE:-}
DB=fennrow_bench
TABLES_DB=fennrow_bench_tables
TABLE_ROWS=100     # rows of each table of $TABLES_DB

say() { echo "bench: $*" >&2; }
die() { echo "bench: error: $*" >&2; exit 1; }

scaled() { # rows
  awk -v n="$1" -v s="$SCALE" 'BEGIN { r = int(n * s + 0.5); if (r < 1) r = 1; print r }'
}
WIDE_ROWS=${BENCH_WIDE_ROWS:-$(scaled 1000000)}
SMALL_ROWS=${BENCH_SMALL_ROWS:-$(scaled 100000)}
NARROW_ROWS=${BENCH_NARROW_ROWS:-$(scaled 5000000)}
LINEITEM_ROWS=${BENCH_LINEITEM_ROWS:-$(scaled 6000000)}
SMALL_TABLES=${BENCH_SMALL_TABLES:-$(scaled 2000)}
for n in "$WIDE_ROWS" "$SMALL_ROWS" "$NARROW_ROWS" "$LINEITEM_ROWS" "$SMALL_TABLES" "$RUNS" "$JOBS"; do
  [[ $n =~ ^[1-9][0-9]*$ ]] || die "row and table counts, BENCH_RUNS and JOBS must be positive whole numbers (got '$n')"
done
case "$PROFILE" in ''|callgrind|perf) ;; *) die "BENCH_PROFILE must be callgrind or perf" ;; esac

# ---- tools ---------------------------------------------------------------
if [ ! -x /usr/bin/time ]; then
  if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null; then
    say "installing /usr/bin/time (package time)"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q time >/dev/null ||
      die "could not install the package time"
  else
    die "/usr/bin/time is missing: install the package time"
  fi
fi
CLIENT=$(command -v mariadb || command -v mysql) || die "the mariadb client is missing"
DUMP=$(command -v mariadb-dump || command -v mysqldump) || die "mariadb-dump is missing"
if [ "$PROFILE" = callgrind ]; then
  command -v valgrind >/dev/null || die "valgrind is missing"
fi
if [ "$PROFILE" = perf ]; then
  command -v perf >/dev/null || die "perf is missing"
fi

# ---- work folder, server, clean-up ---------------------------------------
if [ -n "${BENCH_WORK:-}" ]; then
  mkdir -p "$BENCH_WORK"
  WORK=$(cd "$BENCH_WORK" && pwd)
else
  WORK=$(mktemp -d "${TMPDIR:-/tmp}/fennrow-bench.XXXXXX")
fi
SERVER_STARTED=0
cleanup() {
  if [ "$SERVER_STARTED" = 1 ]; then
    bash "$SERVER" stop "$WORK/server" >/dev/null 2>&1 || true
  fi
  if [ "${BENCH_KEEP:-0}" = 1 ]; then
    say "work folder kept: $WORK"
  else
    rm -rf "$WORK"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

mkdir -p "$WORK/home" "$WORK/tab" "$WORK/out" "$WORK/logs"
# No option file of the user may change what the programs do.
export HOME=$WORK/home
unset MYSQL_HOST MYSQL_TCP_PORT MYSQL_UNIX_PORT MYSQL_PWD || true

# ---- programs under test -------------------------------------------------
FLOOR=""
FLOOR_BIN=""
if [ -n "${BENCH_BRENNOCK:-}" ]; then
  AGENT=$BENCH_BRENNOCK
  [ -x "$AGENT" ] || die "BENCH_BRENNOCK=$AGENT is not an executable"
  if [ -x "$BUILD/bench/bench_floor" ] && [ -x "$BUILD/bench/bench_floor_bin" ]; then
    FLOOR=$BUILD/bench/bench_floor
    FLOOR_BIN=$BUILD/bench/bench_floor_bin
  fi
else
  AGENT=$BUILD/agent/BRENNOCK
  say "building BRENNOCK and the floor programs in $BUILD (Release)"
  if ! { cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DFENNROW_GUI=OFF &&
         cmake --build "$BUILD" -j"$JOBS" --target BRENNOCK bench_floor bench_floor_bin; } \
       >"$WORK/logs/build.log" 2>&1; then
    tail -n 30 "$WORK/logs/build.log" >&2
    die "build failed (log above)"
  fi
  FLOOR=$BUILD/bench/bench_floor
  FLOOR_BIN=$BUILD/bench/bench_floor_bin
fi
if [ -z "$FLOOR" ]; then
  FLOOR=$WORK/bench_floor
  FLOOR_BIN=$WORK/bench_floor_bin
  for prog in floor floor_bin; do
    cc -O2 $(pkg-config --cflags libmariadb) -o "$WORK/bench_$prog" "$ROOT/bench/$prog.c" \
      "$ROOT/bench/floor_common.c" $(pkg-config --libs libmariadb) ||
      die "cannot compile bench/$prog.c"
  done
fi

say "starting a throwaway MariaDB server in $WORK/server"
SERVER_STARTED=1
EXTRA_MYSQLD_ARGS="--innodb-buffer-pool-size=$POOL --innodb-log-file-size=512M --secure-file-priv=$WORK/tab" \
  bash "$SERVER" start "$WORK/server" >"$WORK/logs/server.log" 2>&1 ||
  { cat "$WORK/logs/server.log" >&2; die "the server did not start"; }
setting() { sed -n "s/^$1=//p" "$WORK/server/server.env"; }
PORT=$(setting PORT)
DB_USER=$(setting USER)
DB_PASSWORD=$(setting PASSWORD)
CONN=(--no-defaults --protocol=TCP --host=127.0.0.1 --port="$PORT"
      --user="$DB_USER" --password="$DB_PASSWORD" --default-character-set=utf8mb4)
sql() { "$CLIENT" "${CONN[@]}" --batch --skip-column-names "$@"; }

# ---- data ----------------------------------------------------------------
# Every value is a function of the row number (CRC32 hashes as fixed seeds),
# so the same row counts always give the same rows.
wide_select() { # rows
  cat <<SQL
SELECT id,
  IF(h2 % 23 = 0, NULL, CAST(h1 AS SIGNED) - 2147483648),
  CAST(h1 * 1073741824 + h2 AS SIGNED) - 2305843009213693952,
  IF(h1 % 19 = 0, NULL, (CAST(h2 % 2000000000 AS SIGNED) - 1000000000) / 100),
  IF(h2 % 29 = 0, NULL,
     (CAST(h1 AS SIGNED) - 2147483648) / 65536 * EXP(CAST(h2 % 41 AS SIGNED) - 20)),
  CONCAT(ELT(1 + h1 % 10,
      'plain ascii text',
      'say "hello", world',
      'semi;colon|pipe||double pipe',
      'it''s a single quote',
      'Grüße aus Köln – naïve café',
      'Ελληνικά и кириллица',
      '日本語のテキスト 中文',
      'emoji 😀🚀 outside the BMP',
      CONCAT('line one', CHAR(13, 10 USING utf8mb4), 'line two'),
      CONCAT('tab', CHAR(9 USING utf8mb4), 'and "quotes"; commas, pipes|')),
    ' #', id),
  IF(h1 % 7 = 0, NULL,
     CONCAT(ELT(1 + (h2 DIV 65536) % 4, 'Résumé: ', 'Note; ', 'Комментарий, ', '备注: '),
            REPEAT('abcdefghij', h1 % 12))),
  TIMESTAMP('2000-01-01') + INTERVAL (h1 % 946080000) SECOND
                          + INTERVAL (h2 % 1000000) MICROSECOND,
  IF(h1 % 31 = 0, NULL, DATE('1900-01-01') + INTERVAL (h2 % 73000) DAY),
  IF(h2 % 11 = 0, NULL, LEFT(UNHEX(SHA2(id, 256)), 1 + h1 % 32))
FROM (SELECT seq AS id, CRC32(seq) AS h1, CRC32(CONCAT('fennrow', seq)) AS h2
      FROM seq_1_to_$1) AS g
SQL
}

say "generating $DB: wide and wide_float $WIDE_ROWS rows, wide_small $SMALL_ROWS rows, narrow $NARROW_ROWS rows, lineitem $LINEITEM_ROWS rows"
gen_start=$(date +%s)
sql <<SQL || die "generating the data failed"
DROP DATABASE IF EXISTS $DB;
CREATE DATABASE $DB CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci;
USE $DB;
CREATE TABLE wide (
  id INT NOT NULL PRIMARY KEY,
  i_val INT NULL,
  b_val BIGINT NOT NULL,
  amount DECIMAL(12,2) NULL,
  ratio DOUBLE NULL,
  title VARCHAR(120) NOT NULL,
  note VARCHAR(255) NULL,
  created DATETIME(6) NOT NULL,
  day DATE NULL,
  data BLOB NULL
) ENGINE=InnoDB;
CREATE TABLE wide_small LIKE wide;
CREATE TABLE wide_float LIKE wide;
ALTER TABLE wide_float ADD COLUMN f_val FLOAT NULL, ADD COLUMN flags BIT(5) NULL,
  ADD COLUMN measure DOUBLE(10,3) NULL;
CREATE TABLE narrow (
  id INT NOT NULL PRIMARY KEY,
  val INT NOT NULL
) ENGINE=InnoDB;
CREATE TABLE lineitem (
  l_orderkey INT NOT NULL,
  l_partkey INT NOT NULL,
  l_suppkey INT NOT NULL,
  l_linenumber INT NOT NULL,
  l_quantity DECIMAL(15,2) NOT NULL,
  l_extendedprice DECIMAL(15,2) NOT NULL,
  l_discount DECIMAL(15,2) NOT NULL,
  l_tax DECIMAL(15,2) NOT NULL,
  l_returnflag CHAR(1) NOT NULL,
  l_linestatus CHAR(1) NOT NULL,
  l_shipdate DATE NOT NULL,
  l_commitdate DATE NOT NULL,
  l_receiptdate DATE NOT NULL,
  l_shipinstruct CHAR(25) NOT NULL,
  l_shipmode CHAR(10) NOT NULL,
  l_comment VARCHAR(44) NOT NULL,
  PRIMARY KEY (l_orderkey, l_linenumber)
) ENGINE=InnoDB;
INSERT INTO wide $(wide_select "$WIDE_ROWS");
INSERT INTO wide_small $(wide_select "$SMALL_ROWS");
INSERT INTO wide_float
SELECT w.*,
  IF(h1 % 17 = 0, NULL, (CAST(h2 AS SIGNED) - 2147483648) / 4096 * EXP(CAST(h1 % 31 AS SIGNED) - 15)),
  IF(h2 % 13 = 0, NULL, h1 % 32),
  IF(h2 % 37 = 0, NULL, (CAST(h1 % 2000000000 AS SIGNED) - 1000000000) / 1000 / 7)
FROM wide AS w
JOIN (SELECT seq AS id, CRC32(CONCAT('float', seq)) AS h1, CRC32(CONCAT('bits', seq)) AS h2
      FROM seq_1_to_$WIDE_ROWS) AS g ON g.id = w.id;
INSERT INTO narrow
SELECT seq, CAST(CRC32(seq) AS SIGNED) - 2147483648 FROM seq_1_to_$NARROW_ROWS;
INSERT INTO lineitem
SELECT (seq + 3) DIV 4, 1 + h1 % 200000, 1 + h2 % 10000, 1 + (seq + 3) % 4,
  q, q * (900 + (h1 DIV 7) % 100000 / 100), (h1 DIV 50) % 11 / 100, (h2 DIV 7) % 9 / 100,
  ELT(1 + h1 % 3, 'R', 'A', 'N'), ELT(1 + h2 % 2, 'O', 'F'),
  ship, ship + INTERVAL (CAST(h2 % 61 AS SIGNED) - 30) DAY, ship + INTERVAL 1 + h2 % 30 DAY,
  ELT(1 + h2 % 4, 'DELIVER IN PERSON', 'COLLECT COD', 'NONE', 'TAKE BACK RETURN'),
  ELT(1 + h1 % 7, 'REG AIR', 'AIR', 'RAIL', 'SHIP', 'TRUCK', 'MAIL', 'FOB'),
  SUBSTRING('carefully final deposits detect slyly against the furiously ironic requests; quickly even accounts sleep',
            1 + h1 % 60, 10 + h2 % 35)
FROM (SELECT seq, h1, h2, 1 + h1 % 50 AS q, DATE('1992-01-02') + INTERVAL (h2 % 2526) DAY AS ship
      FROM (SELECT seq, CRC32(CONCAT('line', seq)) AS h1, CRC32(CONCAT('item', seq)) AS h2
            FROM seq_1_to_$LINEITEM_ROWS) AS h) AS g;
SQL
say "data generated in $(( $(date +%s) - gen_start )) s; checksums:"
sql -e "CHECKSUM TABLE $DB.wide, $DB.wide_small, $DB.narrow, $DB.wide_float, $DB.lineitem" | sed 's/^/bench:   /' >&2

# The many small tables: t00001, t00002, ... of $TABLE_ROWS rows each, every
# value a function of the table and row numbers. Creating a table costs far
# more than its rows, so $JOBS connections create them side by side.
NAME_DIGITS=$(( ${#SMALL_TABLES} > 5 ? ${#SMALL_TABLES} : 5 ))
small_table() { printf "t%0${NAME_DIGITS}d" "$1"; }
say "generating $TABLES_DB: $SMALL_TABLES tables of $TABLE_ROWS rows"
gen_start=$(date +%s)
sql <<SQL || die "generating the small tables failed"
DROP DATABASE IF EXISTS $TABLES_DB;
CREATE DATABASE $TABLES_DB CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci;
USE $DB;
DROP PROCEDURE IF EXISTS make_small_tables;
DELIMITER //
CREATE PROCEDURE make_small_tables(first INT, last INT)
BEGIN
  DECLARE i INT DEFAULT first;
  WHILE i <= last DO
    SET @t = CONCAT('$TABLES_DB.t', LPAD(i, $NAME_DIGITS, '0'));
    SET @s = CONCAT('CREATE TABLE ', @t, ' (',
      'id INT NOT NULL PRIMARY KEY, label VARCHAR(60) NOT NULL, ',
      'amount DECIMAL(12,2) NULL, changed DATETIME NOT NULL) ENGINE=InnoDB');
    PREPARE st FROM @s;
    EXECUTE st;
    DEALLOCATE PREPARE st;
    SET @s = CONCAT('INSERT INTO ', @t, ' SELECT seq, ',
      'CONCAT(ELT(1 + h % 4, ''item'', ''Grüße'', ''say "hi"'', ''a;b,c|d''), '' '', ', i, ', ''/'', seq), ',
      'IF(h % 13 = 0, NULL, (CAST(h % 2000000 AS SIGNED) - 1000000) / 100), ',
      'TIMESTAMP(''2020-01-01'') + INTERVAL (h % 157680000) SECOND ',
      'FROM (SELECT seq, CRC32(CONCAT(', i, ', '':'', seq)) AS h FROM seq_1_to_$TABLE_ROWS) AS g');
    PREPARE st FROM @s;
    EXECUTE st;
    DEALLOCATE PREPARE st;
    SET i = i + 1;
  END WHILE;
END//
DELIMITER ;
SQL
gen_pids=()
for (( part = 0; part < JOBS; part++ )); do
  first=$(( SMALL_TABLES * part / JOBS + 1 ))
  last=$(( SMALL_TABLES * (part + 1) / JOBS ))
  [ "$first" -le "$last" ] || continue
  sql -e "CALL $DB.make_small_tables($first, $last)" &
  gen_pids+=($!)
done
gen_failed=0
for pid in "${gen_pids[@]}"; do
  wait "$pid" || gen_failed=1
done
[ "$gen_failed" = 0 ] || die "generating the small tables failed"
sql -e "DROP PROCEDURE $DB.make_small_tables" || die "generating the small tables failed"
say "small tables generated in $(( $(date +%s) - gen_start )) s; checksums of the first and last:"
sql -e "CHECKSUM TABLE $TABLES_DB.$(small_table 1), $TABLES_DB.$(small_table "$SMALL_TABLES")" |
  sed 's/^/bench:   /' >&2

# ---- measuring -----------------------------------------------------------
TIME_FILE=$WORK/logs/time.txt

# timed OUT ERR CMD...: runs CMD with stdout to OUT and stderr to ERR; sets
# WALL (seconds), RSS_KB, CPU (user + system seconds) and STATUS.
timed() {
  local out=$1 err=$2 t0 t1
  shift 2
  t0=$(date +%s%N)
  STATUS=0
  /usr/bin/time -v -o "$TIME_FILE" "$@" >"$out" 2>"$err" || STATUS=$?
  t1=$(date +%s%N)
  WALL=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')
  RSS_KB=$(sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p' "$TIME_FILE")
  CPU=$(awk -F': ' '/User time \(seconds\)|System time \(seconds\)/ { s += $2 }
                    END { printf "%.2f", s }' "$TIME_FILE")
  : "${RSS_KB:=0}"
}

file_bytes() { # files...: total size
  local total=0 f
  for f in "$@"; do
    [ -f "$f" ] && total=$(( total + $(stat -c %s "$f") ))
  done
  echo "$total"
}

# Counts the CSV records of a BRENNOCK file (header included) when python3
# is there; prints nothing otherwise.
csv_records() { # file delimiter
  command -v python3 >/dev/null || return 0
  python3 - "$1" "$2" <<'PY' 2>/dev/null || true
import csv, sys
csv.field_size_limit(1 << 30)
with open(sys.argv[1], newline='', encoding='utf-8-sig', errors='replace') as f:
    print(sum(1 for _ in csv.reader(f, delimiter=sys.argv[2])))
PY
}

TOOLS=(floor floor_bin BRENNOCK mysql dump)
MANY_TOOLS=(floor floor_bin BRENNOCK)
declare -A LABEL=(
  [floor]="floor, text protocol (fetch + discard)"
  [floor_bin]="floor, binary protocol (prepared, fetch + discard)"
  [BRENNOCK]="BRENNOCK"
  [mysql]="mariadb --batch --raw --quick"
  [dump]="mariadb-dump --tab (server writes)"
)
declare -A FLOOR_PROGRAM=([floor]=$FLOOR [floor_bin]=$FLOOR_BIN)
declare -A SHOWN_WALL SHOWN_CPU RUNS_OF OUT_BYTES PEAK_KB FAILED NOTE VERIFIED

# floor_counts LOG: sets GOT_ROWS, GOT_TABLES and BYTES from a floor's output.
floor_counts() {
  GOT_ROWS=$(sed -n 's/^rows=\([0-9]*\).*/\1/p' "$1")
  GOT_TABLES=$(sed -n 's/.*tables=\([0-9]*\).*/\1/p' "$1")
  BYTES=$(sed -n 's/.*bytes=\([0-9]*\).*/\1/p' "$1")
}

# keep_run KEY LOG: records the run just timed (STATUS, WALL, CPU, RSS_KB,
# BYTES): its times join the key's runs, and the highest peak memory is kept.
keep_run() {
  local key=$1 log=$2
  if [ "$STATUS" != 0 ]; then
    FAILED[$key]=$STATUS
    say "warning: $key failed (exit $STATUS):"
    tail -n 5 "$log.err" "$log.out" 2>/dev/null | sed 's/^/bench:   /' >&2 || true
    return 0
  fi
  OUT_BYTES[$key]=$BYTES
  RUNS_OF[$key]+="$WALL $CPU"$'\n'
  if [ "${PEAK_KB[$key]:-0}" -lt "$RSS_KB" ]; then
    PEAK_KB[$key]=$RSS_KB
  fi
}

# show_medians: for every key, the median run by wall time (the lower middle
# one of an even number) and its CPU time.
show_medians() {
  local key median
  for key in "${!RUNS_OF[@]}"; do
    median=$(printf '%s' "${RUNS_OF[$key]}" | sort -n -k1,1 |
             awk '{ w[NR] = $1; c[NR] = $2 } END { m = int((NR + 1) / 2); print w[m], c[m] }')
    SHOWN_WALL[$key]=${median% *}
    SHOWN_CPU[$key]=${median#* }
  done
}

# run_tool TOOL TABLE: one timed conversion.
run_tool() {
  local tool=$1 table=$2 key="$1/$2" out dest
  local log=$WORK/logs/$tool-$table
  BYTES=0
  case "$tool" in
    floor|floor_bin)
      timed "$log.out" "$log.err" "${FLOOR_PROGRAM[$tool]}" 127.0.0.1 "$PORT" "$DB_USER" \
        "$DB_PASSWORD" "$DB" "SELECT * FROM \`$table\`"
      floor_counts "$log.out"
      if [ "$STATUS" = 0 ] && [ "$GOT_ROWS" != "${ROWS[$table]}" ]; then
        NOTE[$key]="received $GOT_ROWS rows"
      fi
      ;;
    BRENNOCK)
      dest=$WORK/out/brennock-$table
      rm -rf "$dest"
      printf '%s\n' "$table" >"$WORK/tables-$table.txt"
      timed "$log.out" "$log.err" "$AGENT" --host=127.0.0.1 --port="$PORT" \
        --user="$DB_USER" --pswd="$DB_PASSWORD" --src="$DB" --dest="$dest" \
        --tab_file="$WORK/tables-$table.txt" --inc_fnames --n_delim=2 --mode=0 --silent
      out=$dest/$table.csv
      BYTES=$(file_bytes "$out")
      if [ "$STATUS" = 0 ] && [ ! -s "$out" ]; then
        STATUS=1
        echo "no file $out" >>"$log.err"
      fi
      if [ "$STATUS" = 0 ] && [ -z "${VERIFIED[$key]:-}" ]; then
        VERIFIED[$key]=1
        local records
        records=$(csv_records "$out" ,)
        if [ -n "$records" ] && [ "$records" != $(( ${ROWS[$table]} + 1 )) ]; then
          NOTE[$key]="$records CSV records for ${ROWS[$table]} rows + header"
          say "warning: BRENNOCK wrote $records CSV records for ${ROWS[$table]} rows + header"
        fi
      fi
      ;;
    mysql)
      out=$WORK/out/mysql-$table.tsv
      timed "$out" "$log.err" "$CLIENT" "${CONN[@]}" --batch --raw --quick \
        -e "SELECT * FROM \`$table\`" "$DB"
      BYTES=$(file_bytes "$out")
      ;;
    dump)
      rm -f "$WORK/tab/$table.txt" "$WORK/tab/$table.sql"
      timed "$log.out" "$log.err" "$DUMP" "${CONN[@]}" --tab="$WORK/tab" "$DB" "$table"
      BYTES=$(file_bytes "$WORK/tab/$table.txt")
      ;;
  esac
  keep_run "$key" "$log"
}

# run_many TOOL: one timed pass over every table of $TABLES_DB (BRENNOCK
# converts the whole database; a floor streams each table in turn on one
# connection). Each run of BRENNOCK writes a folder of its own, removed at the
# end: removing 2,000 files just before creating 2,000 more slows the
# creation down in some file systems, which no floor would pay.
MANY=many
run_many() {
  local tool=$1 run=$2 key="$1/$MANY" dest
  local log=$WORK/logs/$tool-$MANY
  BYTES=0
  case "$tool" in
    floor|floor_bin)
      timed "$log.out" "$log.err" "${FLOOR_PROGRAM[$tool]}" 127.0.0.1 "$PORT" "$DB_USER" \
        "$DB_PASSWORD" "$TABLES_DB" --each-table
      floor_counts "$log.out"
      if [ "$STATUS" = 0 ] && { [ "$GOT_TABLES" != "$SMALL_TABLES" ] ||
                               [ "$GOT_ROWS" != "$MANY_ROWS" ]; }; then
        NOTE[$key]="received $GOT_ROWS rows of $GOT_TABLES tables"
      fi
      ;;
    BRENNOCK)
      dest=$WORK/out/brennock-$MANY-$run
      timed "$log.out" "$log.err" "$AGENT" --host=127.0.0.1 --port="$PORT" \
        --user="$DB_USER" --pswd="$DB_PASSWORD" --src="$TABLES_DB" --dest="$dest" \
        --inc_fnames --n_delim=2 --mode=0 --silent
      local files=0
      if [ -d "$dest" ]; then
        read -r files BYTES < <(find "$dest" -maxdepth 1 -type f -name '*.csv' -printf '%s\n' |
                                awk '{ n++; s += $1 } END { print n + 0, s + 0 }')
      fi
      if [ "$STATUS" = 0 ] && [ "$files" != "$SMALL_TABLES" ]; then
        NOTE[$key]="$files CSV files for $SMALL_TABLES tables"
        say "warning: BRENNOCK wrote $files CSV files for $SMALL_TABLES tables"
      fi
      if [ "$STATUS" = 0 ] && [ -z "${VERIFIED[$key]:-}" ]; then
        VERIFIED[$key]=1
        local records last
        last=$dest/$(small_table "$SMALL_TABLES").csv
        records=$(csv_records "$last" ,)
        if [ -n "$records" ] && [ "$records" != $(( TABLE_ROWS + 1 )) ]; then
          NOTE[$key]="$records CSV records in $(basename "$last") for $TABLE_ROWS rows + header"
          say "warning: BRENNOCK wrote ${NOTE[$key]}"
        fi
      fi
      ;;
  esac
  keep_run "$key" "$log"
}

declare -A ROWS=([wide]=$WIDE_ROWS [narrow]=$NARROW_ROWS [wide_small]=$SMALL_ROWS [wide_float]=$WIDE_ROWS
                 [lineitem]=$LINEITEM_ROWS)
TABLES=(wide narrow wide_small wide_float lineitem)
MANY_ROWS=$(( SMALL_TABLES * TABLE_ROWS ))
bench_start=$(date +%s)
for table in "${TABLES[@]}"; do
  say "table $table (${ROWS[$table]} rows): warming the buffer pool"
  timed /dev/null /dev/null "$FLOOR" 127.0.0.1 "$PORT" "$DB_USER" "$DB_PASSWORD" \
    "$DB" "SELECT * FROM \`$table\`"
  for run in $(seq 1 "$RUNS"); do
    for tool in "${TOOLS[@]}"; do
      say "  run $run/$RUNS: $tool"
      run_tool "$tool" "$table"
    done
  done
done
say "$TABLES_DB ($SMALL_TABLES tables of $TABLE_ROWS rows): warming the buffer pool"
timed /dev/null /dev/null "$FLOOR" 127.0.0.1 "$PORT" "$DB_USER" "$DB_PASSWORD" \
  "$TABLES_DB" --each-table
for run in $(seq 1 "$RUNS"); do
  for tool in "${MANY_TOOLS[@]}"; do
    say "  run $run/$RUNS: $tool"
    run_many "$tool" "$run"
  done
done
rm -rf "$WORK/out/brennock-$MANY"-*
bench_secs=$(( $(date +%s) - bench_start ))
show_medians

# ---- results -------------------------------------------------------------
RESULTS=$WORK/results.md
ratio() { # a b
  awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "" || b + 0 == 0) print "–"; else printf "%.2f×", a / b }'
}
# label KEY TOOL: the tool's name with the run's note, if any.
label() {
  if [ -n "${NOTE[$1]:-}" ]; then echo "${LABEL[$2]} (${NOTE[$1]})"; else echo "${LABEL[$2]}"; fi
}
{
  echo "## Benchmark results"
  echo
  echo "- machine: $(nproc) CPUs, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1), $(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo) RAM, Linux $(uname -r)"
  echo "- server: $(sql -e 'SELECT VERSION()') on 127.0.0.1 (TCP), InnoDB buffer pool $POOL"
  echo "- BRENNOCK: $AGENT"
  echo "- runs per tool and table: $RUNS (the median run by wall time shown, with its CPU time; peak memory: highest of the runs)"
  echo "- date: $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo
  echo "| table | rows | tool | wall s | rows/s | output MB/s | output MB | peak RSS MiB | CPU s | × floor (text) | × floor (binary) | × mysql |"
  echo "|---|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
  for table in "${TABLES[@]}"; do
    for tool in "${TOOLS[@]}"; do
      key=$tool/$table
      if [ -n "${FAILED[$key]:-}" ] && [ -z "${SHOWN_WALL[$key]:-}" ]; then
        echo "| $table | ${ROWS[$table]} | ${LABEL[$tool]} | failed (exit ${FAILED[$key]}) | | | | | | | | |"
        continue
      fi
      w=${SHOWN_WALL[$key]}
      awk -v t="$table" -v n="${ROWS[$table]}" -v l="$(label "$key" "$tool")" -v w="$w" \
          -v b="${OUT_BYTES[$key]}" -v k="${PEAK_KB[$key]}" -v c="${SHOWN_CPU[$key]}" \
          -v rf="$(ratio "$w" "${SHOWN_WALL[floor/$table]:-}")" \
          -v rb="$(ratio "$w" "${SHOWN_WALL[floor_bin/$table]:-}")" \
          -v rm="$(ratio "$w" "${SHOWN_WALL[mysql/$table]:-}")" 'BEGIN {
        printf "| %s | %d | %s | %.2f | %.0f | %.1f | %.1f | %.1f | %.2f | %s | %s | %s |\n",
          t, n, l, w, n / w, b / w / 1e6, b / 1e6, k / 1024, c, rf, rb, rm }'
    done
  done
  echo
  echo "Output bytes: the CSV file (BRENNOCK), the redirected standard output (mysql), the server's .txt file (dump --tab); for the text floor the bytes received (sum of the field lengths), for the binary floor the bytes of the string, BLOB and decimal values plus the size of each other value as bound (4 for INT, 8 for DOUBLE, a MYSQL_TIME for a date). The memory of mariadb-dump --tab is the client's only: the server does the work. CPU s: user + system time of the client process."
  echo
  echo "### Many small tables"
  echo
  echo "| database | tables | rows | tool | wall s | ms per table | output MB | peak RSS MiB | CPU s | × floor (text) | × floor (binary) |"
  echo "|---|---:|---:|---|---:|---:|---:|---:|---:|---:|---:|"
  for tool in "${MANY_TOOLS[@]}"; do
    key=$tool/$MANY
    if [ -n "${FAILED[$key]:-}" ] && [ -z "${SHOWN_WALL[$key]:-}" ]; then
      echo "| $TABLES_DB | $SMALL_TABLES | $MANY_ROWS | ${LABEL[$tool]} | failed (exit ${FAILED[$key]}) | | | | | | |"
      continue
    fi
    w=${SHOWN_WALL[$key]}
    awk -v d="$TABLES_DB" -v nt="$SMALL_TABLES" -v n="$MANY_ROWS" -v l="$(label "$key" "$tool")" \
        -v w="$w" -v b="${OUT_BYTES[$key]}" -v k="${PEAK_KB[$key]}" -v c="${SHOWN_CPU[$key]}" \
        -v rf="$(ratio "$w" "${SHOWN_WALL[floor/$MANY]:-}")" \
        -v rb="$(ratio "$w" "${SHOWN_WALL[floor_bin/$MANY]:-}")" 'BEGIN {
      printf "| %s | %d | %d | %s | %.2f | %.3f | %.1f | %.1f | %.2f | %s | %s |\n",
        d, nt, n, l, w, w * 1000 / nt, b / 1e6, k / 1024, c, rf, rb }'
  done
  echo
  echo "$SMALL_TABLES tables of $TABLE_ROWS rows (INT key, VARCHAR, DECIMAL, DATETIME). BRENNOCK converts the whole database (no --tab_file); each floor lists the tables (SHOW TABLES) and streams SELECT * of each in turn on one connection (the binary floor prepares one statement per table). ms per table: wall time / tables."
  echo
  echo "Goals (for information):"
  for table in "${TABLES[@]}"; do
    echo "- $table: BRENNOCK $(ratio "${SHOWN_WALL[BRENNOCK/$table]:-}" "${SHOWN_WALL[floor_bin/$table]:-}") the binary-protocol floor's time (goal: within 1.10×), $(ratio "${SHOWN_WALL[BRENNOCK/$table]:-}" "${SHOWN_WALL[floor/$table]:-}") the text-protocol floor's, $(ratio "${SHOWN_WALL[BRENNOCK/$table]:-}" "${SHOWN_WALL[mysql/$table]:-}") the mysql client's; CPU $(ratio "${SHOWN_CPU[BRENNOCK/$table]:-}" "${SHOWN_CPU[mysql/$table]:-}") the mysql client's (goal: at most 1.00×)"
  done
  awk -v s="${PEAK_KB[BRENNOCK/wide_small]:-0}" -v w="${PEAK_KB[BRENNOCK/wide]:-0}" \
      -v ns="$SMALL_ROWS" -v nw="$WIDE_ROWS" 'BEGIN {
    printf "- BRENNOCK peak memory: %.1f MiB for %d wide rows, %.1f MiB for %d wide rows (goal: at most 50 MiB, flat)\n",
      s / 1024, ns, w / 1024, nw }'
  awk -v nt="$SMALL_TABLES" -v a="${SHOWN_WALL[BRENNOCK/$MANY]:-}" \
      -v fb="${SHOWN_WALL[floor_bin/$MANY]:-}" -v ft="${SHOWN_WALL[floor/$MANY]:-}" \
      -v rb="$(ratio "${SHOWN_WALL[BRENNOCK/$MANY]:-}" "${SHOWN_WALL[floor_bin/$MANY]:-}")" \
      -v rt="$(ratio "${SHOWN_WALL[BRENNOCK/$MANY]:-}" "${SHOWN_WALL[floor/$MANY]:-}")" 'BEGIN {
    if (a == "" || fb == "" || ft == "") { print "- many small tables: –"; exit }
    printf "- many small tables: BRENNOCK %.3f ms per table against %.3f ms for the binary-protocol floor, %s (goal: within 1.30×), and %.3f ms for the text-protocol floor, %s\n",
      a * 1000 / nt, fb * 1000 / nt, rb, ft * 1000 / nt, rt }'
  echo
  echo "Conversions took $bench_secs s in all (data generation not counted)."
} >"$RESULTS"

# ---- profile (optional) --------------------------------------------------
# callgrind_top --inclusive=yes|no LINES: the costliest functions, with the
# long standard type names shortened.
callgrind_top() {
  { callgrind_annotate "$1" --threshold=99 "$WORK/logs/callgrind.out" 2>/dev/null || true; } |
    sed -n '/^Ir  *file:function/,/^$/p' | sed -n '3,$p' |
    sed -e 's/std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> >/std::string/g' \
        -e 's/std::__cxx11::basic_string<wchar_t, std::char_traits<wchar_t>, std::allocator<wchar_t> >/std::wstring/g' \
        -e 's/std::basic_string_view<char, std::char_traits<char> >/std::string_view/g' \
        -e 's/std::basic_string_view<wchar_t, std::char_traits<wchar_t> >/std::wstring_view/g' \
        -e 's/???://' -e 's/ \[[^]]*\/\([^/]*\)\]$/ [\1]/' |
    cut -c1-160 | sed -n "1,$2p"
}
if [ -n "$PROFILE" ]; then
  pdest=$WORK/out/profile
  rm -rf "$pdest"
  if [ "$PROFILE" = callgrind ]; then
    printf 'wide_small\n' >"$WORK/tables-profile.txt"
    say "profiling BRENNOCK on wide_small with callgrind (slow)"
    valgrind --tool=callgrind --callgrind-out-file="$WORK/logs/callgrind.out" \
      "$AGENT" --host=127.0.0.1 --port="$PORT" --user="$DB_USER" --pswd="$DB_PASSWORD" \
      --src="$DB" --dest="$pdest" --tab_file="$WORK/tables-profile.txt" \
      --inc_fnames --n_delim=2 --mode=0 --silent >"$WORK/logs/callgrind.log" 2>&1 ||
      die "callgrind run failed (see $WORK/logs/callgrind.log)"
    {
      echo
      echo "## Profile: valgrind --tool=callgrind, BRENNOCK on wide_small (instructions, self cost)"
      echo
      echo '```'
      callgrind_top --inclusive=no 35
      echo '```'
      echo
      echo "Inclusive cost (a function and everything it calls):"
      echo
      echo '```'
      callgrind_top --inclusive=yes 40 | grep -v -e 'below main' -e 'ld-linux' -e '__libc_start' -e '  main \[' || true
      echo '```'
    } >>"$RESULTS"
  else
    printf 'wide\n' >"$WORK/tables-profile.txt"
    say "profiling BRENNOCK on wide with perf record"
    perf record -e cpu-clock -F 999 -g -o "$WORK/logs/perf.data" -- \
      "$AGENT" --host=127.0.0.1 --port="$PORT" --user="$DB_USER" --pswd="$DB_PASSWORD" \
      --src="$DB" --dest="$pdest" --tab_file="$WORK/tables-profile.txt" \
      --inc_fnames --n_delim=2 --mode=0 --silent >"$WORK/logs/perf.log" 2>&1 ||
      die "perf record failed (see $WORK/logs/perf.log)"
    {
      echo
      echo "## Profile: perf record, BRENNOCK on wide (samples, self)"
      echo
      echo '```'
      { perf report -i "$WORK/logs/perf.data" --stdio --no-children --sort symbol 2>/dev/null || true; } |
        sed -n 's/[[:space:]]*-[[:space:]]*-[[:space:]]*$//; /^ *[0-9.]*%/p' | sed -n '1,40p'
      echo '```'
    } >>"$RESULTS"
  fi
fi

echo
cat "$RESULTS"
if [ -n "${BENCH_RESULTS:-}" ]; then
  cp "$RESULTS" "$BENCH_RESULTS"
  say "results written to $BENCH_RESULTS"
fi
