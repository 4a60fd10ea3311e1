#!/usr/bin/env bash
# Speed and memory of Pelmora beside the iconv | cut pipeline people script
# instead and beside plain `cat`, measured side by side in one run, so that
# the ratios hold even on a busy machine. Prints a table with PASS/FAIL per
# target and always exits 0 once the measurements are done: it is a report.
#
#   bench/run.sh            16 MiB and 256 MiB files, several runs each
#   bench/run.sh --quick    16 MiB files only, fewer runs (smoke test)
#
# Environment (all optional):
#   SRC           source tree to build and measure (default this checkout;
#                 e.g. `git archive HEAD | tar -x -C /tmp/x` for a clean commit)
#   BUILD         build folder, relative to SRC (default build)
#   RUNS_SMALL, RUNS_BIG, RUNS_STARTUP   hyperfine runs per command
#   ROUNDS        the runs of each file are split into this many hyperfine
#                 calls taking turns, so that load from other work on the
#                 machine falls on every command alike
#   BENCH_LABEL   what the report calls the measured source (default the
#                 commit of SRC, noting uncommitted changes outside bench/)
#
# Everything it makes lives in bench/out/ (ignored by git): the generated
# files (reused while the generator is unchanged), the private install, the
# scratch folder, hyperfine's JSON, the logs and report.md.
set -euo pipefail

quick=0
case "${1:-}" in
  --quick) quick=1 ;;
  "") ;;
  *) echo "usage: bench/run.sh [--quick]" >&2; exit 2 ;;
esac

. "$(dirname "$0")/common.sh"
data="$out/data"
results="$out/results"
scratch="$out/scratch"
logs="$out/logs"
mkdir -p "$data" "$logs"
rm -rf "$results" "$scratch"
mkdir -p "$results" "$scratch"

if [ "$quick" = 1 ]; then
  runs_small=${RUNS_SMALL:-3}
  runs_big=${RUNS_BIG:-0}
  runs_startup=${RUNS_STARTUP:-100}
  rounds=${ROUNDS:-1}
else
  runs_small=${RUNS_SMALL:-10}
  runs_big=${RUNS_BIG:-5}
  runs_startup=${RUNS_STARTUP:-300}
  rounds=${ROUNDS:-5}
fi

# --- tools -----------------------------------------------------------------
need=()
command -v hyperfine >/dev/null || need+=(hyperfine)
[ -x /usr/bin/time ] || need+=(time)
command -v iconv >/dev/null || need+=(libc-bin)
command -v python3 >/dev/null || need+=(python3)
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    say "missing: ${need[*]} (install them: apt-get install ${need[*]})"
    exit 1
  fi
  say "installing ${need[*]} ..."
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >"$logs/apt.log" 2>&1
  apt-get install -y -qq "${need[@]}" >>"$logs/apt.log" 2>&1
fi

# --- build and install -----------------------------------------------------
build_and_install "$logs/build.log"
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
if [ "$build_type" != Release ]; then
  say "WARNING: $build is configured as '${build_type:-none}', not Release"
fi
# Named now: the tree may move on while the measurements run.
if [ -n "${BENCH_LABEL:-}" ]; then
  source_label=$BENCH_LABEL
elif rev=$(git -C "$src" rev-parse --short HEAD 2>/dev/null); then
  source_label="commit $rev"
  if [ -n "$(git -C "$src" status --porcelain -- . ':!bench' 2>/dev/null)" ]; then
    source_label="$source_label + uncommitted changes outside bench/"
  fi
else
  source_label=$src
fi
[ -f "$prefix/share/pelmora/UTF16~MS932.bin" ] || {
  say "the installed table is missing"; exit 1; }

# --- data --------------------------------------------------------------------
# name kind MiB separator-option iconv-source-encoding cut-option
files=("sheet_16 sheet 16" "csv_16 csv 16")
if [ "$quick" = 0 ]; then
  files+=("sheet_256 sheet 256" "csv_256 csv 256")
fi
for entry in "${files[@]}"; do
  set -- $entry
  say "data $1: $(python3 "$here/gen_wide.py" --cached --kind "$2" \
      --size-mib "$3" --out "$data/$1.txt")"
  # The same text as a "CSV UTF-8" export, as UTF-16BE with its mark and as
  # Excel's Shift_JIS "CSV": every coding must convert as fast as UTF-16LE,
  # near enough.
  if [ "$2" = sheet ]; then
    for coding in utf-8-sig utf-16-be cp932; do
      copy="$data/$1.$coding.txt"
      if [ ! -f "$copy" ] || [ "$copy" -ot "$data/$1.txt" ]; then
        python3 -c 'import sys
text = open(sys.argv[1], "rb").read()[2:].decode("utf-16-le")
mark = b"\xfe\xff" if sys.argv[3] == "utf-16-be" else b""
open(sys.argv[2], "wb").write(mark + text.encode(sys.argv[3]))' \
          "$data/$1.txt" "$copy" "$coding"
      fi
    done
  fi
done

# --- scratch folder ----------------------------------------------------------
# A settings file without options and the supplementary list keep Pelmora
# from writing err files; the installed table is found in its fixed place.
# pelmora.exe under Wine, for a sanity figure beside the native program
# (no target): built with `make win32` when Wine is there, its table in
# the C:\Quorvelin of a private prefix so that it writes no err file.
exe=""
if command -v wine >/dev/null && [ "${BENCH_WINE:-1}" = 1 ]; then
  if make -C "$src" win32 >"$logs/win32.log" 2>&1; then
    eval "$("$root/tools/wine_prefix.sh" "$out/wine")"
    mkdir -p "$WINEPREFIX/drive_c/Quorvelin"
    cp "$prefix/share/pelmora/UTF16~MS932.bin" "$WINEPREFIX/drive_c/Quorvelin/"
    exe="$src/build-win32/bin/pelmora.exe"
    wineserver -p  # one server for every timed run
  else
    say "make win32 failed (see $logs/win32.log): no row for pelmora.exe"
  fi
fi

printf 'UTF16~MS932.bin\r\n' >"$scratch/set_pelmora.txt"
printf '20B9F\r\n' >"$scratch/surro.txt"
cd "$scratch"
export LC_ALL=C
load_start=$(cut -d' ' -f1-3 /proc/loadavg)
if awk -v l="${load_start%% *}" -v n="$(nproc)" 'BEGIN { exit !(l >= n / 2) }'; then
  say "WARNING: load average $load_start on $(nproc) cores: other work competes, times will be inflated"
fi

q() { printf '%q' "$1"; }

err_check() {
  local found=0 f
  for f in err*.txt error.txt; do
    [ -e "$f" ] || continue
    say "UNEXPECTED $f: $(cat "$f")"
    found=1
    rm -f "$f"
  done
  return $found
}

problems=0
note_problem() { say "PROBLEM: $*"; echo "$*" >>"$results/problems.txt"; problems=1; }

for entry in "${files[@]}"; do
  set -- $entry
  name=$1 kind=$2 mib=$3
  wide="$data/$name.txt"
  lines=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["lines"])' "$wide.meta")
  if [ "$kind" = sheet ]; then
    sep='-S\t'; enc=UTF-16; cutopt='-f2'   # UTF-16 consumes the FF FE mark
  else
    sep='-s,'; enc=UTF-16LE; cutopt='-d, -f2'
  fi
  if [ "$mib" -ge 256 ]; then runs=$runs_big; else runs=$runs_small; fi

  P=$(q "$pelmora"); W=$(q "$wide"); S=$(q "$sep")
  cmd_plain="$P -j2 $S $W narrow_plain.txt"
  cmd_stdout="$P -j2 $S --out $W > /dev/null"
  cmd_filtered="$P -o2 $S $W narrow_filtered.txt"
  cmd_decimal="$P -e3 $S $W narrow_decimal.txt"
  cmd_pipeline="iconv -f $enc -t CP932 < $W | cut $cutopt > pipeline.txt"
  cmd_floor="cat $W > /dev/null"
  # Informational: the same as plain, onto the narrow file of the run before.
  cmd_overwrite="$P -j2 $S $W narrow_overwrite.txt"
  # -t: a plain run and one copy of the wide file (to binary.tmp), beside
  # that copy made by cp.
  cmd_refresh="$P -j2 -t $S $W narrow_refresh.txt"
  cmd_copy="cp $W copy.txt"
  # The same text in the other codings (sheet files only).
  coding_runs=()
  if [ "$kind" = sheet ]; then
    coding_runs=(--prepare "rm -f narrow_utf8.txt" -n utf8
                 "$P -j2 $S $(q "$data/$name.utf-8-sig.txt") narrow_utf8.txt"
                 --prepare "rm -f narrow_utf16be.txt" -n utf16be
                 "$P -j2 $S $(q "$data/$name.utf-16-be.txt") narrow_utf16be.txt"
                 --prepare "rm -f narrow_sjis.txt" -n sjis
                 "$P -j2 $S $(q "$data/$name.cp932.txt") narrow_sjis.txt")
  fi
  # Informational: the same as plain, by pelmora.exe under Wine.
  wine_run=()
  if [ -n "$exe" ]; then
    wine_run=(--prepare "rm -f narrow_wine.txt" -n wine
              "wine $(q "$exe") -j2 $S $W narrow_wine.txt")
  fi

  # One checked run of each: right exit code, one narrow line per wide line,
  # no err file, and the peak RSS. It also brings the file into the cache.
  say "checking $name and measuring peak RSS ..."
  for v in plain stdout filtered decimal; do
    case $v in
      plain) args=(-j2 "$sep" "$wide" narrow_plain.txt); target=narrow_plain.txt ;;
      stdout) args=(-j2 "$sep" --out "$wide"); target=stdout.txt ;;
      filtered) args=(-o2 "$sep" "$wide" narrow_filtered.txt); target=narrow_filtered.txt ;;
      decimal) args=(-e3 "$sep" "$wide" narrow_decimal.txt); target=narrow_decimal.txt ;;
    esac
    rc=0
    if [ $v = stdout ]; then
      /usr/bin/time -v -o "$results/rss_${name}_$v.txt" "$pelmora" "${args[@]}" >stdout.txt || rc=$?
    else
      /usr/bin/time -v -o "$results/rss_${name}_$v.txt" "$pelmora" "${args[@]}" || rc=$?
    fi
    [ $rc = 0 ] || note_problem "$name $v: exit code $rc"
    got=$(wc -l <"$target")
    [ "$got" = "$lines" ] || note_problem "$name $v: $got narrow lines for $lines wide lines"
    err_check || note_problem "$name $v wrote an err file"
    rm -f stdout.txt
  done
  if ! iconv -f "$enc" -t CP932 <"$wide" >/dev/null 2>"$logs/iconv_$name.log"; then
    note_problem "$name: iconv failed ($(head -c 200 "$logs/iconv_$name.log"))"
  fi

  r_count=$rounds
  [ "$runs" -lt "$r_count" ] && r_count=$runs
  [ "$r_count" -lt 1 ] && r_count=1
  per_round=$(( (runs + r_count - 1) / r_count ))
  say "timing $name ($r_count x $per_round runs each, warmup 1 a round; log in $logs/hyperfine_$name.log) ..."
  : >"$logs/hyperfine_$name.log"
  for r in $(seq 1 "$r_count"); do
    # Every timed run writes a new file, as a nightly batch does: the output
    # of the run before is removed first, untimed (--prepare, one per
    # command in order). Truncating an old file instead costs the file
    # system more than the conversion of a small file; the overwrite row
    # shows it.
    hyperfine --warmup 1 --runs "$per_round" --style basic \
      --export-json "$results/$name.r$r.json" \
      --prepare "rm -f narrow_plain.txt" -n plain "$cmd_plain" \
      --prepare ":" -n stdout "$cmd_stdout" \
      --prepare "rm -f narrow_filtered.txt" -n filtered "$cmd_filtered" \
      --prepare "rm -f narrow_decimal.txt" -n decimal "$cmd_decimal" \
      --prepare "rm -f pipeline.txt" -n pipeline "$cmd_pipeline" \
      --prepare ":" -n floor "$cmd_floor" \
      --prepare ":" -n overwrite "$cmd_overwrite" \
      --prepare "rm -f narrow_refresh.txt" -n refresh "$cmd_refresh" \
      --prepare "rm -f copy.txt" -n copy "$cmd_copy" \
      "${coding_runs[@]}" "${wine_run[@]}" \
      >>"$logs/hyperfine_$name.log" 2>&1 ||
      { tail -n 20 "$logs/hyperfine_$name.log" >&2; note_problem "$name: hyperfine failed"; break; }
  done
  err_check || note_problem "$name: an err file appeared while timing"
  if [ -n "$exe" ] && ! cmp -s narrow_wine.txt narrow_plain.txt; then
    note_problem "$name: pelmora.exe under Wine wrote another narrow file"
  fi
  if [ "$kind" = sheet ]; then
    for coding in utf8 utf16be sjis; do
      cmp -s "narrow_$coding.txt" narrow_plain.txt ||
        note_problem "$name: the $coding copy gave another narrow file"
    done
  fi
  cmp -s narrow_refresh.txt narrow_plain.txt ||
    note_problem "$name: -t gave another narrow file"
  rm -f narrow_*.txt pipeline.txt copy.txt
done

# --- start-up ---------------------------------------------------------------
say "timing start-up ($runs_startup runs each) ..."
python3 -c 'import sys; sys.stdout.buffer.write("\ufeffA-1\t\u540d\u524d\t100\r\n".encode("utf-16-le"))' >one.txt
hyperfine -N --warmup 20 --runs "$runs_startup" --style basic \
  --export-json "$results/startup.json" \
  -n pelmora "$(q "$pelmora") -j2 '-S\t' one.txt one_narrow.txt" \
  -n true "/bin/true" >"$logs/hyperfine_startup.log" 2>&1 ||
  { tail -n 20 "$logs/hyperfine_startup.log" >&2; note_problem "start-up: hyperfine failed"; }
[ "$(wc -l <one_narrow.txt)" = 1 ] || note_problem "start-up: narrow file has no line"
err_check || note_problem "start-up run wrote an err file"

[ -n "$exe" ] && wineserver -k

# --- report -----------------------------------------------------------------
names=()
for entry in "${files[@]}"; do set -- $entry; names+=("$1"); done
python3 "$here/report.py" --results "$results" --data "$data" \
  --files "$(IFS=,; echo "${names[*]}")" \
  --mode "$([ $quick = 1 ] && echo quick || echo full)" \
  --info "source $source_label, $build_type build, $(nproc) cores, load average at start $load_start, at end $(cut -d' ' -f1-3 /proc/loadavg), $(hyperfine --version)" \
  --markdown "$out/report.md" || say "report.py failed"
exit 0
