#!/bin/bash
# Both directions of refusal 244, measured: every export of the bench and
# the examples, in each Unicode coding, named as the narrow file is refused;
# no narrow file Pelmora writes from them (in those codings and Shift_JIS,
# five engines) is. Run from the project root after a build:
#   bench/narrow_refusal.sh
root=$(pwd); P=$root/build/bin/pelmora
mkdir -p bench/out/refusal && cd bench/out/refusal && rm -f ./*
cp $root/build/table/UTF16~MS932.bin .
printf 't\r\n' > set_pelmora.txt; printf '20B9F\r\n' > surro.txt
python3 $root/bench/gen_wide.py --kind sheet --size-mib 16 --out sheet.txt >/dev/null
python3 $root/bench/gen_wide.py --kind csv --size-mib 16 --out csv.txt >/dev/null
for e in $root/examples/*/*.txt; do case $e in *commands.txt|*set_pelmora.txt|*surro.txt) continue;; esac; cp "$e" "ex_$(basename $e)"; done
refused=0; total=0; kept=0; ktotal=0
printf 'a\n' | iconv -t UTF-16LE > w.txt
for src in sheet.txt csv.txt ex_*.txt; do
  python3 - "$src" <<'PY'
import sys
b=open(sys.argv[1],'rb').read()
t=(b[2:] if b[:2]==b'\xff\xfe' else b).decode('utf-16-le')
base=sys.argv[1][:-4]
for name,data in [('le_mark',b'\xff\xfe'+t.encode('utf-16-le')),('le',t.encode('utf-16-le')),
                  ('be_mark',b'\xfe\xff'+t.encode('utf-16-be')),('be',t.encode('utf-16-be')),
                  ('u8_mark',b'\xef\xbb\xbf'+t.encode('utf-8')),('u8',t.encode('utf-8'))]:
    open('%s.%s'%(base,name),'wb').write(data)
try:
    open('%s.sjis'%base,'wb').write(t.encode('cp932'))
except UnicodeEncodeError:
    pass
PY
done
for f in *.le_mark *.le *.be_mark *.be *.u8_mark *.u8; do
  total=$((total+1)); sum=$(md5sum < "$f")
  $P -j1 w.txt "$f"; rc=$?
  if [ $rc = 1 ] && grep -q "error-244: $f" err* 2>/dev/null && [ "$(md5sum < "$f")" = "$sum" ]; then refused=$((refused+1)); else echo "NOT REFUSED: $f ($rc)"; fi
  rm -f err*
done
for f in *.le_mark *.le *.be_mark *.be *.u8_mark *.u8 *.sjis; do
  for opt in -j2 -j1 -o2 -e3 -n3; do
    ktotal=$((ktotal+1)); S='-S\t'; case $f in csv*) S='-s,';; esac
    rm -f n.txt; $P $opt "$S" "$f" n.txt || { echo "first run failed: $f $opt"; continue; }
    $P $opt "$S" "$f" n.txt && kept=$((kept+1)) || echo "REFUSED narrow: $f $opt $(cat err* 2>/dev/null)"
    rm -f err*
  done
done
echo "exports refused as narrow names: $refused of $total"
echo "narrow files overwritten without refusal: $kept of $ktotal"
