#!/usr/bin/env bash
# One run of `pelmora -j2` on a ~3 GiB spreadsheet export: a file past 2 GiB,
# where 32-bit sizes and offsets would break. Prints the time and the peak
# RSS (against 64 MiB, as bench/run.sh) and checks that the narrow file has
# one line per wide line. Not part of CI; the wide and the narrow file are
# deleted at the end.
#
#   bench/big_file.sh [--size-mib N]     (default 3072)
#
# Environment: SRC (source tree to build, default this checkout), BUILD
# (build folder, default build), BENCH_LABEL (what to call the source).
set -euo pipefail

size_mib=3072
if [ "${1:-}" = --size-mib ] && [ -n "${2:-}" ]; then
  size_mib=$2
elif [ -n "${1:-}" ]; then
  echo "usage: bench/big_file.sh [--size-mib N]" >&2
  exit 2
fi

. "$(dirname "$0")/common.sh"
work="$out/big"
mkdir -p "$out/logs"

[ -x /usr/bin/time ] || { say "needs /usr/bin/time (apt-get install time)"; exit 1; }

# The wide file, the narrow file (Field-2 is far smaller than the line, but
# allow half) and a margin.
wide_bytes=$((size_mib * 1024 * 1024))
need=$((wide_bytes + wide_bytes / 2 + 512 * 1024 * 1024))
mkdir -p "$work"
avail=$(df -B1 --output=avail "$work" | tail -n 1 | tr -d ' ')
if [ "$avail" -lt "$need" ]; then
  say "not enough disk: $((avail / 1048576)) MiB free in $work, $((need / 1048576)) MiB needed"
  exit 1
fi
mem_avail=$(( $(awk '/^MemAvailable:/ {print $2}' /proc/meminfo) * 1024 ))
mem_need=$((wide_bytes * 21 / 10 + 16 * 1024 * 1024))
if [ "$mem_avail" -lt "$mem_need" ]; then
  say "WARNING: $((mem_avail / 1048576)) MiB of memory available; a build that holds the output may need $((mem_need / 1048576)) MiB"
fi

cleanup() { rm -rf "$work"; }
trap cleanup EXIT

build_and_install "$out/logs/build_big.log"

wide="$work/big.txt"
say "generating $size_mib MiB (streamed) ..."
start=$(date +%s)
python3 "$here/gen_wide.py" --kind sheet --size-mib "$size_mib" --out "$wide" >&2
say "generated in $(( $(date +%s) - start )) s"
lines=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["lines"])' "$wide.meta")
bytes=$(stat -c %s "$wide")

cd "$work"
printf 'UTF16~MS932.bin\r\n' >set_pelmora.txt
printf '20B9F\r\n' >surro.txt
# Drop what an earlier step left in the page cache as dirty pages, so the
# run is not charged for writing the wide file back.
sync
say "running pelmora -j2 -S\\t on it ..."
rc=0
/usr/bin/time -v -o time.txt "$pelmora" -j2 '-S\t' big.txt narrow.txt || rc=$?
elapsed=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' time.txt)
rss_kib=$(sed -n 's/.*Maximum resident set size (kbytes): //p' time.txt)
got=$(wc -l <narrow.txt 2>/dev/null || echo 0)
narrow_bytes=$(stat -c %s narrow.txt 2>/dev/null || echo 0)
# The same bound as bench/run.sh's: peak RSS does not grow with the file.
limit=$((64 * 1024 * 1024))
status=PASS
echo "source:       ${BENCH_LABEL:-$(git -C "$src" describe --always --dirty 2>/dev/null || echo "$src")}, $(nproc) cores"
echo "wide file:    $bytes bytes ($((bytes / 1048576)) MiB), $lines lines"
echo "exit code:    $rc"
echo "elapsed:      $elapsed (m:ss)"
python3 - "$bytes" "$elapsed" <<'EOF'
import sys
b = int(sys.argv[1]); parts = [float(x) for x in sys.argv[2].split(":")]
s = sum(p * 60 ** i for i, p in enumerate(reversed(parts)))
print("throughput:   %.0f MB/s of wide input" % (b / 1e6 / s) if s else "throughput:   n/a")
EOF
echo "peak RSS:     $((rss_kib / 1024)) MiB (limit $((limit / 1048576)) MiB for any input size)"
if [ $((rss_kib * 1024)) -gt "$limit" ]; then echo "RSS limit:    FAIL"; status=FAIL; else echo "RSS limit:    PASS"; fi
echo "narrow file:  $narrow_bytes bytes, $got lines"
if [ "$rc" != 0 ] || [ "$got" != "$lines" ]; then
  echo "line count:   FAIL (expected $lines)"; status=FAIL
else
  echo "line count:   PASS"
fi
for f in err*.txt error.txt; do
  [ -e "$f" ] || continue
  echo "err file $f: $(cat "$f")"; status=FAIL
done
echo "result:       $status"
