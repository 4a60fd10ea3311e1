#!/usr/bin/env bash
# Speed and memory of Pelmora beside `cat`, the iconv | cut pipeline people
# script instead and (with --peers) other tools doing the same job, measured
# side by side in one run with bench/alternate.py (the commands of a table
# take turns, run after run, so that load from other work on the machine
# falls on every command alike). Prints markdown tables with PASS/FAIL per
# target and always exits 0 once the measurements are done: it is a report.
#
#   bench/run.sh            16 MiB and 256 MiB files, 15 rounds (~5-10 min)
#   bench/run.sh --quick    16 MiB files only, a few rounds (smoke test)
#   bench/run.sh --peers    also the peers' table (installs nkf, miller and
#                           csvkit when run as root; --quick runs the peers
#                           already installed even without it)
#
# Row families (tables of report.md):
#   main      per file: plain, stdout, filtered, decimal, overwrite, -t, cp,
#             the iconv | cut pipeline, pelmora.exe under Wine; x cat
#   cat       the biggest spreadsheet export: `cat wide` against plain -j2,
#             on its own, for the wall and CPU targets against cat
#   codings   the same text in UTF-16LE, UTF-16BE, UTF-8, Shift_JIS
#   small     a 40-line export, 400 runs, beside /bin/true and iconv
#   rss       peak RSS with two parts (-j2) and one (taskset -c 0)
#   peers     the same job by other tools, as multiples of Pelmora's time
#
# Environment (all optional):
#   SRC           source tree to build and measure (default this checkout;
#                 e.g. `git archive HEAD | tar -x -C /tmp/x` for a clean commit)
#   BUILD         build folder, relative to SRC (default build)
#   ROUNDS        rounds of the main, cat and codings tables (15; quick 3)
#   RUNS_SMALLFILE  runs of the 40-line row (400; quick 50)
#   ROUNDS_PEERS, ROUNDS_PEERS_SLOW  rounds of the fast and the slow peers
#                 (5 and 3; quick 1 and 1)
#   RSS_RUNS      runs of each peak RSS row, the largest counts (3; quick 1)
#   BENCH_LABEL   what the report calls the measured source (default the
#                 commit of SRC, noting uncommitted changes outside bench/)
#   BENCH_WINE    0 leaves out the pelmora.exe row
#
# Everything it makes lives in bench/out/ (ignored by git): the generated
# files (reused while the generator is unchanged), the private install, the
# scratch folder, alternate.py's JSON, the logs and report.md.
set -euo pipefail

quick=0
peers=0
for arg in "$@"; do
  case "$arg" in
    --quick) quick=1 ;;
    --peers) peers=1 ;;
    *) echo "usage: bench/run.sh [--quick] [--peers]" >&2; exit 2 ;;
  esac
done

. "$(dirname "$0")/common.sh"
data="$out/data"
results="$out/results"
scratch="$out/scratch"
logs="$out/logs"
mkdir -p "$data" "$logs"
rm -rf "$results" "$scratch"
mkdir -p "$results" "$scratch"
: >"$results/problems.txt"   # stays empty on a healthy run

if [ "$quick" = 1 ]; then
  rounds=${ROUNDS:-3}
  runs_smallfile=${RUNS_SMALLFILE:-50}
  rounds_peers=${ROUNDS_PEERS:-1}
  rounds_peers_slow=${ROUNDS_PEERS_SLOW:-1}
  rss_runs=${RSS_RUNS:-1}
else
  rounds=${ROUNDS:-15}
  runs_smallfile=${RUNS_SMALLFILE:-400}
  rounds_peers=${ROUNDS_PEERS:-5}
  rounds_peers_slow=${ROUNDS_PEERS_SLOW:-3}
  rss_runs=${RSS_RUNS:-3}
fi
alternate() { python3 "$here/alternate.py" --quiet "$@"; }

# --- tools -----------------------------------------------------------------
need=()
[ -x /usr/bin/time ] || need+=(time)
command -v iconv >/dev/null || need+=(libc-bin)
command -v python3 >/dev/null || need+=(python3)
command -v taskset >/dev/null || need+=(util-linux)
apt_install() {
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >>"$logs/apt.log" 2>&1 &&
    apt-get install -y -qq "$@" >>"$logs/apt.log" 2>&1
}
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    say "missing: ${need[*]} (install them: apt-get install ${need[*]})"
    exit 1
  fi
  say "installing ${need[*]} ..."
  apt_install "${need[@]}"
fi
# The peers: command, Debian package. Installed only when asked for.
peer_packages="nkf:nkf mlr:miller csvcut:csvkit"
if [ "$peers" = 1 ]; then
  missing=()
  for p in $peer_packages; do
    command -v "${p%%:*}" >/dev/null || missing+=("${p#*:}")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" = 0 ]; then
      say "installing the peers ${missing[*]} ..."
      apt_install "${missing[@]}" || say "could not install ${missing[*]} (see $logs/apt.log)"
    else
      say "not root: the peers ${missing[*]} are left out"
    fi
  fi
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
# name kind MiB
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
# The biggest spreadsheet export carries the targets.
target_file=sheet_16
[ "$quick" = 0 ] && target_file=sheet_256

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
P=$(q "$pelmora"); S=$(q '-S\t')

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

note_problem() { say "PROBLEM: $*"; echo "$*" >>"$results/problems.txt"; }

# peak_rss OUT RUNS COMMAND...: the largest peak RSS (KiB) of RUNS runs, by
# /usr/bin/time (a small parent: alternate.py's own memory would hide a
# peak below it). Returns the command's exit code.
peak_rss() {
  local outf=$1 n=$2 i rc=0 max=0 kib
  shift 2
  for i in $(seq 1 "$n"); do
    /usr/bin/time -f %M -o rss.tmp "$@" || { rc=$?; break; }
    kib=$(tail -n 1 rss.tmp)
    [ "$kib" -gt "$max" ] && max=$kib
  done
  rm -f rss.tmp
  echo "$max" >"$outf"
  return $rc
}

# lines_of FILE.meta: the number of lines of a generated file.
lines_of() {
  python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["lines"])' "$1"
}

# --- main table: per file ----------------------------------------------------
for entry in "${files[@]}"; do
  set -- $entry
  name=$1 kind=$2
  wide="$data/$name.txt"
  lines=$(lines_of "$wide.meta")
  if [ "$kind" = sheet ]; then
    sep='-S\t'; enc=UTF-16; cutopt='-f2'   # UTF-16 consumes the FF FE mark
  else
    sep='-s,'; enc=UTF-16LE; cutopt='-d, -f2'
  fi
  W=$(q "$wide"); SEP=$(q "$sep")

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
      peak_rss "$results/rss_${name}_$v.txt" 1 "$pelmora" "${args[@]}" >stdout.txt || rc=$?
    else
      peak_rss "$results/rss_${name}_$v.txt" 1 "$pelmora" "${args[@]}" || rc=$?
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
  # Peak RSS with two parts (-j2 on this machine's processors) and with one:
  # the program plans one part per processor it may use.
  say "peak RSS of $name with two parts and with one ..."
  rm -f narrow_rss.txt
  peak_rss "$results/rss_${name}_parts2.txt" "$rss_runs" \
    "$pelmora" -j2 "$sep" "$wide" narrow_rss.txt || note_problem "$name -j2: exit code $?"
  rm -f narrow_rss.txt
  peak_rss "$results/rss_${name}_parts1.txt" "$rss_runs" \
    taskset -c 0 "$pelmora" -j2 "$sep" "$wide" narrow_rss.txt ||
    note_problem "$name taskset -c 0: exit code $?"
  cmp -s narrow_rss.txt narrow_plain.txt || note_problem "$name: one part gave another narrow file"
  err_check || note_problem "$name: an err file appeared measuring peak RSS"

  # -t reads its copy back when the wide file changed within the last two
  # seconds, where the file's times might hide a change made during the
  # copy; the run before gave it its time, so each -t run waits that out
  # first (untimed), as a nightly batch's files have long settled.
  # -t gives the wide file a new time: it gets a copy of its own, so that
  # the generated file (and its cache) stays untouched.
  cp "$wide" wide_t.txt
  wine_run=()
  if [ -n "$exe" ]; then
    wine_run=(--prepare "rm -f narrow_wine.txt" --cmd wine
              "wine $(q "$exe") -j2 $SEP $W narrow_wine.txt")
  fi
  say "timing $name ($rounds rounds + 1 warmup; alternate.py) ..."
  # Every timed run writes a new file, as a nightly batch does: the output
  # of the run before is removed first, untimed (--prepare). Truncating an
  # old file instead costs the file system more than the conversion of a
  # small file; the overwrite row shows it.
  alternate --rounds "$rounds" --json "$results/main_$name.json" \
    --cmd floor "cat $W > /dev/null" \
    --prepare "rm -f narrow_plain.txt" --cmd plain "$P -j2 $SEP $W narrow_plain.txt" \
    --cmd stdout "$P -j2 $SEP --out $W > /dev/null" \
    --prepare "rm -f narrow_filtered.txt" --cmd filtered "$P -o2 $SEP $W narrow_filtered.txt" \
    --prepare "rm -f narrow_decimal.txt" --cmd decimal "$P -e3 $SEP $W narrow_decimal.txt" \
    --cmd overwrite "$P -j2 $SEP $W narrow_overwrite.txt" \
    --prepare "rm -f narrow_refresh.txt; sleep 2.2" --cmd refresh "$P -j2 -t $SEP wide_t.txt narrow_refresh.txt" \
    --prepare "rm -f copy.txt" --cmd copy "cp $W copy.txt" \
    --prepare "rm -f pipeline.txt" --cmd pipeline "iconv -f $enc -t CP932 < $W | cut $cutopt > pipeline.txt" \
    "${wine_run[@]}" >>"$logs/alternate.log" 2>&1 ||
    { tail -n 5 "$logs/alternate.log" >&2; note_problem "$name: alternate.py failed (main table)"; }
  err_check || note_problem "$name: an err file appeared while timing"
  if [ -n "$exe" ] && ! cmp -s narrow_wine.txt narrow_plain.txt; then
    note_problem "$name: pelmora.exe under Wine wrote another narrow file"
  fi
  cmp -s narrow_refresh.txt narrow_plain.txt || note_problem "$name: -t gave another narrow file"
  cmp -s wide_t.txt "$wide" || note_problem "$name: -t changed the bytes of the wide file"

  # The other codings: one checked run each on every spreadsheet export.
  if [ "$kind" = sheet ]; then
    for coding in utf-8-sig utf-16-be cp932; do
      rm -f narrow_coding.txt
      "$pelmora" -j2 "$sep" "$data/$name.$coding.txt" narrow_coding.txt ||
        note_problem "$name $coding: exit code $?"
      cmp -s narrow_coding.txt narrow_plain.txt ||
        note_problem "$name: the $coding copy gave another narrow file"
    done
    err_check || note_problem "$name: an err file appeared in the other codings"
  fi
  rm -f narrow_*.txt pipeline.txt copy.txt wide_t.txt
done

# --- against cat, alone -------------------------------------------------------
# The wall and CPU targets against cat are figures of an idle machine: the
# load average at the start is recorded, and the report warns when it is high.
TW=$(q "$data/$target_file.txt")
say "timing $target_file against cat ($rounds rounds) ..."
cut -d' ' -f1 /proc/loadavg >"$results/cat.load"
alternate --no-shell --rounds "$rounds" --json "$results/cat.json" \
  --cmd cat "cat $TW" \
  --prepare "rm -f narrow_cat.txt" --cmd plain "$P -j2 $S $TW narrow_cat.txt" \
  >>"$logs/alternate.log" 2>&1 ||
  { tail -n 5 "$logs/alternate.log" >&2; note_problem "alternate.py failed (against cat)"; }
err_check || note_problem "an err file appeared in the runs against cat"
rm -f narrow_cat.txt

# --- codings ------------------------------------------------------------------
say "timing the codings of $target_file ($rounds rounds) ..."
coding_cmds=(--prepare "rm -f narrow_le.txt" --cmd UTF-16LE "$P -j2 $S $TW narrow_le.txt")
for c in "UTF-16BE utf-16-be" "UTF-8 utf-8-sig" "Shift_JIS cp932"; do
  set -- $c
  coding_cmds+=(--prepare "rm -f narrow_$2.txt" --cmd "$1"
                "$P -j2 $S $(q "$data/$target_file.$2.txt") narrow_$2.txt")
done
alternate --no-shell --rounds "$rounds" --json "$results/codings.json" \
  "${coding_cmds[@]}" >>"$logs/alternate.log" 2>&1 ||
  { tail -n 5 "$logs/alternate.log" >&2; note_problem "alternate.py failed (codings)"; }
err_check || note_problem "an err file appeared in the codings"
rm -f narrow_*.txt

# --- a small file ---------------------------------------------------------------
# The first 40 lines of the 16 MiB export: FF FE, tab separated, CR LF.
python3 -c 'import sys
data = open(sys.argv[1], "rb").read(1 << 20)
text = data[2:].decode("utf-16-le", "ignore")
lines = text.split("\r\n")[:40]
open(sys.argv[2], "wb").write(b"\xff\xfe" + "".join(l + "\r\n" for l in lines).encode("utf-16-le"))' \
  "$data/sheet_16.txt" small.txt
say "timing a 40-line export ($runs_smallfile runs) ..."
rm -f small_narrow.txt
peak_rss "$results/rss_small.txt" 1 "$pelmora" -j2 '-S\t' small.txt small_narrow.txt ||
  note_problem "small file: exit code $?"
[ "$(wc -l <small_narrow.txt)" = 40 ] || note_problem "small file: the narrow file has not 40 lines"
alternate --no-shell --rounds "$runs_smallfile" --warmup 20 --json "$results/small.json" \
  --cmd true /bin/true \
  --prepare "rm -f small_narrow.txt" --cmd pelmora "$P -j2 $S small.txt small_narrow.txt" \
  --prepare "rm -f small_iconv.txt" --cmd iconv "iconv -f UTF-16 -t CP932 -o small_iconv.txt small.txt" \
  >>"$logs/alternate.log" 2>&1 ||
  { tail -n 5 "$logs/alternate.log" >&2; note_problem "alternate.py failed (small file)"; }
err_check || note_problem "the small file's runs wrote an err file"

[ -n "$exe" ] && wineserver -k

# --- peers ------------------------------------------------------------------------
# The same job by other tools: Field 2 of the biggest export in Shift_JIS.
# Each peer takes turns with Pelmora, and is given as a multiple of the
# Pelmora runs it alternated with. Their output is compared with Pelmora's
# line by line (line ends and Pelmora's separator at the end left aside).
: >"$results/peers.txt"
if [ "$peers" = 1 ] || [ "$quick" = 1 ]; then
  cat >peer_csv.py <<'EOF'
import csv, sys
rows = csv.reader(open(sys.argv[1], encoding="utf-16", newline=""), delimiter="\t")
with open(sys.argv[2], "w", encoding="cp932", errors="replace", newline="") as out:
    out.writelines(row[1] + "\r\n" for row in rows)
EOF
  tlines=$(lines_of "$data/$target_file.txt.meta")
  # name, speed, needed command, command
  peer_list=(
    "iconv_cut|fast|iconv|iconv -f UTF-16 -t CP932 < $TW | cut -f2 > peer_iconv_cut.txt"
    "nkf|fast|nkf|nkf -W16L -s -x < $TW | cut -f2 > peer_nkf.txt"
    "python_csv|slow|python3|python3 peer_csv.py $TW peer_python_csv.txt"
    "mlr|slow|mlr|iconv -f UTF-16 -t UTF-8 < $TW | mlr --icsv --ifs tab --implicit-csv-header --headerless-csv-output --onidx cut -f 2 | iconv -f UTF-8 -t CP932 > peer_mlr.txt"
    "csvkit|slow|csvcut|iconv -f UTF-16 -t UTF-8 < $TW | csvcut -t -c 2 | iconv -f UTF-8 -t CP932 > peer_csvkit.txt"
  )
  for p in "${peer_list[@]}"; do
    IFS='|' read -r pname speed tool pcmd <<<"$p"
    if ! command -v "$tool" >/dev/null; then
      echo "$pname|not installed (bench/run.sh --peers as root installs it)" >>"$results/peers.txt"
      continue
    fi
    if [ "$speed" = slow ]; then r=$rounds_peers_slow; w=0; else r=$rounds_peers; w=1; fi
    say "timing the peer $pname ($r rounds) ..."
    if alternate --rounds "$r" --warmup "$w" --json "$results/peer_$pname.json" \
        --prepare "rm -f peer_pelmora.txt" --cmd pelmora "$P -j2 $S $TW peer_pelmora.txt" \
        --prepare "rm -f peer_$pname.txt" --cmd "$pname" "$pcmd" \
        >>"$logs/alternate.log" 2>"$logs/peer_$pname.err"; then
      python3 - peer_pelmora.txt "peer_$pname.txt" "$pname" >>"$results/peers.txt" <<'EOF'
import sys
def lines(path, strip_sep):
    out = []
    for line in open(path, "rb").read().split(b"\n")[:-1]:
        line = line.rstrip(b"\r")
        out.append(line[:-1] if strip_sep and line.endswith(b"\t") else line)
    return out
ours, theirs = lines(sys.argv[1], True), lines(sys.argv[2], False)
unlike = sum(1 for a, b in zip(ours, theirs) if a != b) + abs(len(ours) - len(theirs))
print("%s|ok|%d|%d" % (sys.argv[3], len(theirs), unlike))
EOF
    else
      echo "$pname|failed: $(tail -n 1 "$logs/peer_$pname.err" | head -c 200)" >>"$results/peers.txt"
    fi
    rm -f "peer_$pname.txt"
  done
  err_check || note_problem "the peers' Pelmora runs wrote an err file"
  echo "lines|$tlines" >>"$results/peers.txt"
  rm -f peer_pelmora.txt
else
  echo "all|not run (bench/run.sh --peers)" >>"$results/peers.txt"
fi

# --- report -----------------------------------------------------------------
names=()
for entry in "${files[@]}"; do set -- $entry; names+=("$1"); done
python3 "$here/report.py" --results "$results" --data "$data" \
  --files "$(IFS=,; echo "${names[*]}")" --target "$target_file" \
  --mode "$([ $quick = 1 ] && echo quick || echo full)" \
  --info "source $source_label, $build_type build, $(nproc) cores, load average at start $load_start, at end $(cut -d' ' -f1-3 /proc/loadavg)" \
  --markdown "$out/report.md" || say "report.py failed"
exit 0
