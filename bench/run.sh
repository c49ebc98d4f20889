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
#   narrow      5,000,000 rows of two INT columns
# and converts each table with
#   floor       bench/floor.c: receives the rows (mysql_use_result +
#               mysql_fetch_row) and throws them away
#   BRENNOCK    --n_delim=2 --inc_fnames into a fresh folder
#   mysql       mariadb --batch --raw --quick -e 'SELECT * FROM t' > file
#   dump --tab  mariadb-dump --tab=DIR (the server writes the file itself)
# measuring wall time, rows/s, output bytes/s, peak resident memory and CPU
# time with /usr/bin/time -v. Prints one markdown table.
#
# Settings (environment):
#   BENCH_SCALE=0.1        scale every row count (default 1)
#   BENCH_WIDE_ROWS, BENCH_SMALL_ROWS, BENCH_NARROW_ROWS   exact row counts
#   BENCH_RUNS=3           runs per tool and table; the fastest run is shown
#                          (default 3; the peak memory is the highest of all)
#   BENCH_BRENNOCK=path    use this BRENNOCK instead of building one
#   BENCH_BUILD=dir        build folder (default build-bench, Release, no GUI)
#   BENCH_WORK=dir         work folder (default: a new folder under /tmp)
#   BENCH_KEEP=1           keep the work folder (outputs, logs, profile)
#   BENCH_RESULTS=file     also write the results table to this file
#   BENCH_POOL=1G          the server's InnoDB buffer pool
#   BENCH_PROFILE=callgrind  also profile BRENNOCK on wide_small with
#                          valgrind --tool=callgrind
#   BENCH_PROFILE=perf     also profile BRENNOCK on wide with perf record
#   JOBS=4                 parallel compile jobs
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
SERVER=$ROOT/tests/server/mariadb-test-server.sh
SCALE=${BENCH_SCALE:-1}
RUNS=${BENCH_RUNS:-3}
BUILD=${BENCH_BUILD:-$ROOT/build-bench}
JOBS=${JOBS:-4}
POOL=${BENCH_POOL:-1G}
PROFILE=${BENCH_PROFILE:-}
DB=fennrow_bench

say() { echo "bench: $*" >&2; }
die() { echo "bench: error: $*" >&2; exit 1; }

scaled() { # rows
  awk -v n="$1" -v s="$SCALE" 'BEGIN { r = int(n * s + 0.5); if (r < 1) r = 1; print r }'
}
WIDE_ROWS=${BENCH_WIDE_ROWS:-$(scaled 1000000)}
SMALL_ROWS=${BENCH_SMALL_ROWS:-$(scaled 100000)}
NARROW_ROWS=${BENCH_NARROW_ROWS:-$(scaled 5000000)}
for n in "$WIDE_ROWS" "$SMALL_ROWS" "$NARROW_ROWS" "$RUNS"; do
  [[ $n =~ ^[1-9][0-9]*$ ]] || die "row counts and BENCH_RUNS must be positive whole numbers (got '$n')"
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
if [ -n "${BENCH_BRENNOCK:-}" ]; then
  AGENT=$BENCH_BRENNOCK
  [ -x "$AGENT" ] || die "BENCH_BRENNOCK=$AGENT is not an executable"
  [ -x "$BUILD/bench/bench_floor" ] && FLOOR=$BUILD/bench/bench_floor
else
  AGENT=$BUILD/agent/BRENNOCK
  say "building BRENNOCK and the floor program in $BUILD (Release)"
  if ! { cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DFENNROW_GUI=OFF &&
         cmake --build "$BUILD" -j"$JOBS" --target BRENNOCK bench_floor; } \
       >"$WORK/logs/build.log" 2>&1; then
    tail -n 30 "$WORK/logs/build.log" >&2
    die "build failed (log above)"
  fi
  FLOOR=$BUILD/bench/bench_floor
fi
if [ -z "$FLOOR" ]; then
  FLOOR=$WORK/bench_floor
  cc -O2 $(pkg-config --cflags libmariadb) -o "$FLOOR" "$ROOT/bench/floor.c" \
    $(pkg-config --libs libmariadb) || die "cannot compile bench/floor.c"
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

say "generating $DB: wide $WIDE_ROWS rows, wide_small $SMALL_ROWS rows, narrow $NARROW_ROWS rows"
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
CREATE TABLE narrow (
  id INT NOT NULL PRIMARY KEY,
  val INT NOT NULL
) ENGINE=InnoDB;
INSERT INTO wide $(wide_select "$WIDE_ROWS");
INSERT INTO wide_small $(wide_select "$SMALL_ROWS");
INSERT INTO narrow
SELECT seq, CAST(CRC32(seq) AS SIGNED) - 2147483648 FROM seq_1_to_$NARROW_ROWS;
SQL
say "data generated in $(( $(date +%s) - gen_start )) s; checksums:"
sql -e "CHECKSUM TABLE $DB.wide, $DB.wide_small, $DB.narrow" | sed 's/^/bench:   /' >&2

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

TOOLS=(floor BRENNOCK mysql dump)
declare -A LABEL=(
  [floor]="floor (fetch + discard)"
  [BRENNOCK]="BRENNOCK"
  [mysql]="mariadb --batch --raw --quick"
  [dump]="mariadb-dump --tab (server writes)"
)
declare -A BEST_WALL BEST_CPU OUT_BYTES PEAK_KB FAILED NOTE VERIFIED

# run_tool TOOL TABLE: one timed conversion; keeps the fastest run.
run_tool() {
  local tool=$1 table=$2 key="$1/$2" out bytes dest
  local log=$WORK/logs/$tool-$table
  case "$tool" in
    floor)
      timed "$log.out" "$log.err" "$FLOOR" 127.0.0.1 "$PORT" "$DB_USER" "$DB_PASSWORD" \
        "$DB" "SELECT * FROM \`$table\`"
      bytes=$(sed -n 's/.*bytes=\([0-9]*\).*/\1/p' "$log.out")
      local got
      got=$(sed -n 's/^rows=\([0-9]*\).*/\1/p' "$log.out")
      if [ "$STATUS" = 0 ] && [ "$got" != "${ROWS[$table]}" ]; then
        NOTE[$key]="received $got rows"
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
      bytes=$(file_bytes "$out")
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
      bytes=$(file_bytes "$out")
      ;;
    dump)
      rm -f "$WORK/tab/$table.txt" "$WORK/tab/$table.sql"
      timed "$log.out" "$log.err" "$DUMP" "${CONN[@]}" --tab="$WORK/tab" "$DB" "$table"
      bytes=$(file_bytes "$WORK/tab/$table.txt")
      ;;
  esac
  if [ "$STATUS" != 0 ]; then
    FAILED[$key]=$STATUS
    say "warning: $tool on $table failed (exit $STATUS):"
    tail -n 5 "$log.err" "$log.out" 2>/dev/null | sed 's/^/bench:   /' >&2 || true
    return 0
  fi
  OUT_BYTES[$key]=$bytes
  if [ -z "${BEST_WALL[$key]:-}" ] ||
     awk -v a="$WALL" -v b="${BEST_WALL[$key]}" 'BEGIN { exit !(a < b) }'; then
    BEST_WALL[$key]=$WALL
    BEST_CPU[$key]=$CPU
  fi
  if [ "${PEAK_KB[$key]:-0}" -lt "$RSS_KB" ]; then
    PEAK_KB[$key]=$RSS_KB
  fi
}

declare -A ROWS=([wide]=$WIDE_ROWS [narrow]=$NARROW_ROWS [wide_small]=$SMALL_ROWS)
TABLES=(wide narrow wide_small)
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
bench_secs=$(( $(date +%s) - bench_start ))

# ---- results -------------------------------------------------------------
RESULTS=$WORK/results.md
ratio() { # a b
  awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "" || b + 0 == 0) print "–"; else printf "%.2f×", a / b }'
}
{
  echo "## Benchmark results"
  echo
  echo "- machine: $(nproc) CPUs, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1), $(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo) RAM, Linux $(uname -r)"
  echo "- server: $(sql -e 'SELECT VERSION()') on 127.0.0.1 (TCP), InnoDB buffer pool $POOL"
  echo "- BRENNOCK: $AGENT"
  echo "- runs per tool and table: $RUNS (fastest shown; peak memory: highest of the runs)"
  echo "- date: $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo
  echo "| table | rows | tool | wall s | rows/s | output MB/s | output MB | peak RSS MiB | CPU s | × floor | × mysql |"
  echo "|---|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|"
  for table in "${TABLES[@]}"; do
    for tool in "${TOOLS[@]}"; do
      key=$tool/$table
      if [ -n "${FAILED[$key]:-}" ] && [ -z "${BEST_WALL[$key]:-}" ]; then
        echo "| $table | ${ROWS[$table]} | ${LABEL[$tool]} | failed (exit ${FAILED[$key]}) | | | | | | | |"
        continue
      fi
      w=${BEST_WALL[$key]}
      awk -v t="$table" -v n="${ROWS[$table]}" -v l="${LABEL[$tool]}" -v w="$w" \
          -v b="${OUT_BYTES[$key]}" -v k="${PEAK_KB[$key]}" -v c="${BEST_CPU[$key]}" \
          -v rf="$(ratio "$w" "${BEST_WALL[floor/$table]:-}")" \
          -v rm="$(ratio "$w" "${BEST_WALL[mysql/$table]:-}")" \
          -v note="${NOTE[$key]:-}" 'BEGIN {
        if (note != "") l = l " (" note ")"
        printf "| %s | %d | %s | %.2f | %.0f | %.1f | %.1f | %.1f | %.2f | %s | %s |\n",
          t, n, l, w, n / w, b / w / 1e6, b / 1e6, k / 1024, c, rf, rm }'
    done
  done
  echo
  echo "Output bytes: the CSV file (BRENNOCK), the redirected standard output (mysql), the server's .txt file (dump --tab); for the floor the bytes received (sum of the field lengths). The memory of mariadb-dump --tab is the client's only: the server does the work. CPU s: user + system time of the client process."
  echo
  echo "Goals (for information):"
  for table in wide narrow; do
    echo "- $table: BRENNOCK $(ratio "${BEST_WALL[BRENNOCK/$table]:-}" "${BEST_WALL[floor/$table]:-}") the floor's time (goal at most 1.50×), $(ratio "${BEST_WALL[BRENNOCK/$table]:-}" "${BEST_WALL[mysql/$table]:-}") the mysql client's (goal below 1.00×)"
  done
  awk -v s="${PEAK_KB[BRENNOCK/wide_small]:-0}" -v w="${PEAK_KB[BRENNOCK/wide]:-0}" \
      -v ns="$SMALL_ROWS" -v nw="$WIDE_ROWS" 'BEGIN {
    printf "- BRENNOCK peak memory: %.1f MiB for %d wide rows, %.1f MiB for %d wide rows (goal: at most 50 MiB, flat)\n",
      s / 1024, ns, w / 1024, nw }'
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
