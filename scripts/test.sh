#!/usr/bin/env bash
# Installs the dependencies, builds everything into build/ and runs all tests
# (the server-backed ones inside a throwaway MariaDB server), then does the
# same with AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/.
# Exits non-zero when a build or any test fails.
#   FENNROW_WERROR=ON   compiler warnings are errors (CI sets it)
#   FENNROW_SANITIZE=0  skips the sanitizer build
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
BUILD=$ROOT/build
ASAN_BUILD=$ROOT/build-asan
JOBS=${JOBS:-$(nproc)}
WERROR=${FENNROW_WERROR:-OFF}
SANITIZE=${FENNROW_SANITIZE:-1}

bash scripts/install-deps.sh

# Whatever happens, no test server is left running.
stop_servers() {
  for dir in "$BUILD" "$ASAN_BUILD"; do
    bash tests/server/mariadb-test-server.sh stop "$dir/test-server" >/dev/null 2>&1 || true
  done
}
trap stop_servers EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

LAUNCHER=()
if command -v ccache >/dev/null 2>&1; then
  LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

export QT_QPA_PLATFORM=offscreen

# build_and_test DIR CMAKE-OPTIONS...: configures, builds and runs every test.
build_and_test() {
  local dir=$1
  shift
  local start=$SECONDS
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFENNROW_WERROR="$WERROR" "${LAUNCHER[@]}" "$@"
  cmake --build "$dir" -j"$JOBS"
  local built=$SECONDS
  ctest --test-dir "$dir" --output-on-failure -j4 --timeout 900 --no-tests=error
  echo "== $(basename "$dir"): build $((built - start)) s, tests $((SECONDS - built)) s"
}

build_and_test "$BUILD" -DFENNROW_SANITIZE=OFF

if [ "$SANITIZE" != 0 ]; then
  # A finding ends the program with an error. Leaks that belong to a system
  # library, not to us, would be listed in tests/sanitizer.supp (none today).
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export LSAN_OPTIONS=suppressions=$ROOT/tests/sanitizer.supp:print_suppressions=0
  build_and_test "$ASAN_BUILD" -DFENNROW_SANITIZE=ON
fi
