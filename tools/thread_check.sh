#!/bin/sh
# Builds the unit tests with ThreadSanitizer in build-tsan/ and runs those
# that scan files in parts side by side, the runs whose -t copy is made
# beside the scan, and the parallel runner itself: a
# data race between parts must fail here even when the output happens to
# come out right.
#
#   tools/thread_check.sh [extra cmake arguments]
#
# Exit code: 0 when everything built and passed without a report.
set -u

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$ROOT/build-tsan
JOBS=$(nproc 2>/dev/null || echo 2)

export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

echo "== configuring $BUILD"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" "$@" || exit 1

echo "== building"
cmake --build "$BUILD" -j "$JOBS" --target pelmora_unit_tests || exit 1

echo "== testing"
# ThreadSanitizer's shadow memory does not fit every address layout that
# high randomization gives; without randomization it always does. Where the
# system refuses that (some containers), the tests run as they are.
run=""
if setarch "$(uname -m)" -R true 2>/dev/null; then
  run="setarch $(uname -m) -R"
fi
$run "$BUILD/tests/pelmora_unit_tests" \
  --gtest_filter='SelectingTest.*:SelectingAgreesWithReference.*:PlatformParallelTest.*:FaultTest.*' ||
  exit 1
echo "== thread check passed"
