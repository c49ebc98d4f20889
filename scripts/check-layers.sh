#!/usr/bin/env bash
# Compiles every source file of the product outside SQL/ with the MariaDB
# client library's include folders taken out of its command (syntax only):
# the client's headers and types stay inside the SQL layer. The tests and
# the benchmarks use the client library themselves and are not checked.
#   scripts/check-layers.sh [BUILD-DIR]   (a configured and built build dir)
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/build}" && pwd)
DB=$BUILD/compile_commands.json
JOBS=${JOBS:-4}
[ -f "$DB" ] || { echo "check-layers: $DB is missing" >&2; exit 1; }

# The client's include folders, without their trailing slash.
CLIENT_DIRS=()
for flag in $(pkg-config --cflags-only-I libmariadb); do
  dir=${flag#-I}
  CLIENT_DIRS+=("${dir%/}")
done
[ ${#CLIENT_DIRS[@]} -gt 0 ] || { echo "check-layers: no include folder of libmariadb" >&2; exit 1; }
export CHECK_CLIENT_DIRS="${CLIENT_DIRS[*]}"

# check_one DIR COMMAND: runs the compile command with the client's include
# folders removed, -fsyntax-only instead of writing an object.
check_one() {
  local dir=$1 command=$2
  local -a words args
  eval "words=($command)"
  local i=0 n=${#words[@]} skip_next=0
  if [[ $(basename "${words[0]}") == ccache ]]; then i=1; fi
  for ((; i < n; i++)); do
    local w=${words[i]}
    if ((skip_next)); then skip_next=0; continue; fi
    case $w in
      -o) skip_next=1; continue ;;
      -c) continue ;;
      -I | -isystem | -iquote | -idirafter)
        local next=${words[i + 1]%/}
        if [[ " $CHECK_CLIENT_DIRS " == *" $next "* ]]; then skip_next=1; continue; fi ;;
      -I* | -isystem*)
        local path=${w#-isystem}
        path=${path#-I}
        path=${path%/}
        if [[ " $CHECK_CLIENT_DIRS " == *" $path "* ]]; then continue; fi ;;
    esac
    args+=("$w")
  done
  (cd "$dir" && "${args[@]}" -fsyntax-only)
}
export -f check_one

# Every compiled file of the source tree outside SQL/, tests/ and bench/.
jq -j --arg root "$ROOT/" --arg build "$BUILD/" '
  .[] | select(.file | startswith($root)) | select(.file | startswith($build) | not)
      | select((.file | ltrimstr($root)) | test("^(SQL|tests|bench)/") | not)
      | .directory, "\u0000", .command, "\u0000"' "$DB" >"$BUILD/check-layers.list"
count=$(($(tr -cd '\0' <"$BUILD/check-layers.list" | wc -c) / 2))
[ "$count" -gt 0 ] || { echo "check-layers: no file to check" >&2; exit 1; }

failed=0
xargs -0 -a "$BUILD/check-layers.list" -n 2 -P "$JOBS" bash -c 'check_one "$0" "$1"' || failed=1
if [ "$failed" -ne 0 ]; then
  echo "check-layers: a file outside SQL/ needs the client library's headers" >&2
  exit 1
fi
echo "check-layers: $count files compile without the client library's headers"
