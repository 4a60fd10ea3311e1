#!/bin/sh
# Builds the fuzz targets with clang and libFuzzer in build-fuzz/ and runs
# each for a bounded time, one after the other (fuzz/README.md).
#
#   fuzz/run.sh [seconds-per-target, default 30] [target ...]
#
# Exit code: 0 when every target ran clean, 1 on any finding, 2 when the
# build failed.
set -u

SECONDS_PER_TARGET=${1:-30}
[ $# -gt 0 ] && shift
ALL_TARGETS="fuzz_options fuzz_settings fuzz_table_loader fuzz_surrogate_list
fuzz_splitter fuzz_engines fuzz_wide_coding"
TARGETS=${*:-$ALL_TARGETS}

case $SECONDS_PER_TARGET in
  '' | *[!0-9]*)
    echo "usage: fuzz/run.sh [seconds-per-target] [target ...]" >&2
    exit 2
    ;;
esac

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$ROOT/build-fuzz
CXX_COMPILER=${PELMORA_FUZZ_CXX:-clang++}
JOBS=$(nproc 2>/dev/null || echo 2)

echo "== building fuzz targets in $BUILD ($CXX_COMPILER)"
build_start=$(date +%s)
mkdir -p "$BUILD"
if ! cmake -S "$ROOT" -B "$BUILD" -DCMAKE_CXX_COMPILER="$CXX_COMPILER" \
       -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELMORA_FUZZ=ON \
       -DPELMORA_FUZZ_REPLAY=OFF -DPELMORA_TESTS=OFF >"$BUILD/configure.log" 2>&1 ||
   ! cmake --build "$BUILD" --target pelmora_fuzz_all -j "$JOBS" \
       >"$BUILD/build.log" 2>&1; then
  cat "$BUILD/configure.log" "$BUILD/build.log" 2>/dev/null | tail -40
  echo "fuzz build failed" >&2
  exit 2
fi
echo "   built in $(( $(date +%s) - build_start )) s"

mkdir -p "$BUILD/corpus-work" "$BUILD/artifacts" "$BUILD/logs"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

status=0
summary=""
for target in $TARGETS; do
  binary=$BUILD/fuzz/$target
  if [ ! -x "$binary" ]; then
    echo "no such target: $target" >&2
    status=1
    summary="$summary$(printf '%-20s %10s %6s  %s' "$target" - - 'missing')
"
    continue
  fi
  work=$BUILD/corpus-work/$target
  artifacts=$BUILD/artifacts/$target
  log=$BUILD/logs/$target.log
  mkdir -p "$work" "$artifacts"
  cp -n "$ROOT/fuzz/corpus/$target/"* "$work/" 2>/dev/null
  regressions=$ROOT/fuzz/regressions/$target
  [ -d "$regressions" ] || regressions=""
  # Enough room for a line with more fields than the queue can hold.
  extra=""
  [ "$target" = fuzz_splitter ] && extra="-max_len=8192"

  echo "== $target: ${SECONDS_PER_TARGET} s"
  start=$(date +%s)
  # shellcheck disable=SC2086
  "$binary" -max_total_time="$SECONDS_PER_TARGET" -rss_limit_mb=2048 \
    -timeout=10 -print_final_stats=1 -artifact_prefix="$artifacts/" $extra \
    "$work" $regressions >"$log" 2>&1
  code=$?
  elapsed=$(( $(date +%s) - start ))
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [ "$code" -eq 0 ]; then
    result="ok"
  else
    status=1
    artifact=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -1)
    result="FINDING (exit $code) ${artifact:-see $log}"
    grep -E "ERROR|runtime error|finding:|SUMMARY" "$log" | head -5
  fi
  printf '   %s runs in %s s: %s\n' "${runs:-?}" "$elapsed" "$result"
  summary="$summary$(printf '%-20s %10s %6s  %s' "$target" "${runs:-?}" "$elapsed" "$result")
"
done

echo
printf '%-20s %10s %6s  %s\n' target runs sec result
printf '%s' "$summary"
exit $status
