#!/usr/bin/env bash
# Installs the dependencies, builds everything into build/ and runs all tests
# (the server-backed ones inside a throwaway MariaDB server).
# Exits non-zero when the build or any test fails.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
BUILD=$ROOT/build
JOBS=${JOBS:-$(nproc)}

bash scripts/install-deps.sh

# Whatever happens, no test server is left running.
stop_server() {
  bash tests/server/mariadb-test-server.sh stop "$BUILD/test-server" >/dev/null 2>&1 || true
}
trap stop_server EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD" -j"$JOBS"

export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$BUILD" --output-on-failure -j4 --timeout 900 --no-tests=error
