#!/bin/sh
# Installs the freshly built Pelmora into a staging folder and runs the main
# job on the shipped spreadsheet export: Field-2 (the product name) of every
# line, as Shift_JIS; then the same job on an Excel CSV in Shift_JIS. The
# narrow files are shown converted back to UTF-8.
set -eu
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
stage="$build/stage"
demo="$build/demo"
cmake --install "$build" --prefix "$stage" >/dev/null
rm -rf "$demo"
mkdir -p "$demo"
cp "$here/spreadsheet/products.txt" "$here/spreadsheet/surro.txt" \
   "$here/spreadsheet/set_pelmora.txt" "$demo/"
stage=$(cd "$stage" && pwd)
cd "$demo"
echo "\$ pelmora -j2 products.txt names.txt   (in $demo)"
status=0
"$stage/bin/pelmora" -j2 products.txt names.txt || status=$?
echo "exit code: $status"
echo "names.txt, $(wc -c <names.txt) bytes of Shift_JIS, shown as UTF-8:"
iconv -f CP932 -t UTF-8 names.txt
# The same job on Excel's own CSV of a Japanese Windows, which is Shift_JIS.
cp "$here/excel-csv/customers.csv" .
echo "\$ pelmora -j2 customers.csv customer-names.txt   (Shift_JIS, comma separated)"
csv_status=0
"$stage/bin/pelmora" -j2 '-s,' customers.csv customer-names.txt || csv_status=$?
echo "exit code: $csv_status"
iconv -f CP932 -t UTF-8 customer-names.txt
[ "$status" = 0 ] && status=$csv_status
for f in err*.txt; do
  [ -e "$f" ] && echo "$f: $(cat "$f")"
done
exit "$status"
