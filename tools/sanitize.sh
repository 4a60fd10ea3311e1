#!/bin/sh
# Builds everything with AddressSanitizer and UBSan in build-asan/ and runs
# the whole CTest suite there: unit tests, end-to-end tests (which run the
# sanitized binary) and the fuzz targets' corpus replays.
#
#   tools/sanitize.sh [extra cmake arguments]
#
# The compiler is CMake's default (CXX overrides it); with a compiler other
# than clang the fuzz targets build as corpus replayers. Exit code: 0 when
# everything built and passed, 1 otherwise.
set -u

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$ROOT/build-asan
JOBS=$(nproc 2>/dev/null || echo 2)

# A sanitizer report must fail the test that triggered it, never scroll by.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

echo "== configuring $BUILD"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPELMORA_SANITIZE=ON -DPELMORA_TESTS=ON -DPELMORA_FUZZ=ON "$@" || exit 1

echo "== building"
cmake --build "$BUILD" -j "$JOBS" || exit 1

echo "== testing"
cd "$BUILD" || exit 1
ctest --output-on-failure -j "$JOBS" || exit 1
echo "== sanitizer suite passed"
