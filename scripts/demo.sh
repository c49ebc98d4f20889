#!/usr/bin/env bash
# Installs the dependencies, builds, then converts the sample database
# demo/sample.sql into CSV files in demo-output/ with the console program,
# using a throwaway MariaDB server that is stopped again at the end.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
BUILD=$ROOT/build
JOBS=${JOBS:-$(nproc)}
AGENT=$BUILD/agent/BRENNOCK
OUT=$ROOT/demo-output
SERVER=$ROOT/tests/server/mariadb-test-server.sh

bash scripts/install-deps.sh
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD" -j"$JOBS"

if [ ! -x "$AGENT" ]; then
  echo "The console program is not built yet ($AGENT is missing); nothing to demonstrate."
  exit 0
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/fennrow-demo.XXXXXX")
cleanup() {
  bash "$SERVER" stop "$WORK/server" >/dev/null 2>&1 || true
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

bash "$SERVER" start "$WORK/server"
setting() { sed -n "s/^$1=//p" "$WORK/server/server.env"; }
DB_PORT=$(setting PORT)
DB_USER=$(setting USER)
DB_PASSWORD=$(setting PASSWORD)

# No option file of the user may change what the programs do.
mkdir -p "$WORK/home"
export HOME=$WORK/home

echo "Loading demo/sample.sql into database demo_shop"
timeout 120 mariadb --no-defaults --protocol=TCP --host=127.0.0.1 --port="$DB_PORT" \
  --user="$DB_USER" --password="$DB_PASSWORD" --default-character-set=utf8mb4 \
  <demo/sample.sql

echo
echo "Running: BRENNOCK --host=127.0.0.1 --port=$DB_PORT --user=$DB_USER --pswd=*** --src=demo_shop --dest=$OUT --inc_fnames"
status=0
timeout 600 "$AGENT" --host=127.0.0.1 --port="$DB_PORT" --user="$DB_USER" \
  --pswd="$DB_PASSWORD" --src=demo_shop --dest="$OUT" --inc_fnames </dev/null || status=$?
echo
echo "BRENNOCK exit code: $status"

if [ -d "$OUT" ]; then
  echo "Files in $OUT:"
  ls -l "$OUT"
  for f in "$OUT"/*.csv; do
    [ -f "$f" ] || continue
    echo
    echo "== $(basename "$f") (first lines)"
    head -n 5 "$f"
  done
fi
exit "$status"
