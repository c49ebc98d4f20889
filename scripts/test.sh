#!/usr/bin/env bash
# Installs the dependencies, builds everything into build/ and runs all tests
# (the server-backed ones inside a throwaway MariaDB server) and checks that
# only SQL/ sees the client library's headers; builds a Release (-O3) with
# warnings as errors in build-release/ and runs its unit tests; does the same
# as build/ with AddressSanitizer and UndefinedBehaviorSanitizer in
# build-asan/, and runs the threaded tests (rows, queue, streams, counts,
# conversion runs) under ThreadSanitizer in build-tsan/.
# Exits non-zero when a build or any test fails.
#   FENNROW_WERROR=ON   compiler warnings are errors (CI sets it)
#   FENNROW_SANITIZE=0  skips the sanitizer builds
#   FENNROW_RELEASE=0   skips the Release build
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
BUILD=$ROOT/build
ASAN_BUILD=$ROOT/build-asan
TSAN_BUILD=$ROOT/build-tsan
RELEASE_BUILD=$ROOT/build-release
JOBS=${JOBS:-$(nproc)}
WERROR=${FENNROW_WERROR:-OFF}
SANITIZE=${FENNROW_SANITIZE:-1}
RELEASE=${FENNROW_RELEASE:-1}

bash scripts/install-deps.sh

# Whatever happens, no test server is left running.
stop_servers() {
  for dir in "$BUILD" "$ASAN_BUILD" "$TSAN_BUILD"; do
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
bash scripts/check-layers.sh "$BUILD"

if [ "$RELEASE" != 0 ]; then
  # -O3 brings warnings of its own; the unit tests need no server.
  start=$SECONDS
  cmake -S . -B "$RELEASE_BUILD" -DCMAKE_BUILD_TYPE=Release -DFENNROW_WERROR=ON -DFENNROW_SANITIZE=OFF \
    "${LAUNCHER[@]}"
  cmake --build "$RELEASE_BUILD" -j"$JOBS"
  ctest --test-dir "$RELEASE_BUILD" -L unit --output-on-failure -j4 --timeout 900 --no-tests=error
  echo "== $(basename "$RELEASE_BUILD"): build and unit tests $((SECONDS - start)) s"
fi

if [ "$SANITIZE" != 0 ]; then
  # A finding ends the program with an error. Leaks that belong to a system
  # library, not to us, would be listed in tests/sanitizer.supp (none today).
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export LSAN_OPTIONS=suppressions=$ROOT/tests/sanitizer.supp:print_suppressions=0
  build_and_test "$ASAN_BUILD" -DFENNROW_SANITIZE=ON
fi

if [ "$SANITIZE" != 0 ]; then
  # The tests of the threads that receive rows, hand them over and count,
  # and of the conversion runs that use them.
  TSAN_TESTS='^(RowPage|RowQueue|RowCounts/Pages|Pages|BinaryStream|ChangingRows|Kill/BrokenStream|StreamCut'
  TSAN_TESTS+='|Counter|RecordCount|ConversionRun|ConversionRunUnconnected|Table/RunFormat|Table/RunMode)\.'
  export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
  start=$SECONDS
  cmake -S . -B "$TSAN_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFENNROW_WERROR="$WERROR" \
    -DFENNROW_SANITIZE=thread -DFENNROW_GUI=OFF "${LAUNCHER[@]}"
  cmake --build "$TSAN_BUILD" -j"$JOBS" --target test_sql test_converter
  ctest --test-dir "$TSAN_BUILD" -R "$TSAN_TESTS" --output-on-failure -j4 --timeout 900 --no-tests=error
  echo "== $(basename "$TSAN_BUILD"): build and tests $((SECONDS - start)) s"
fi
