#!/bin/sh
# Installs the freshly built Pelmora into a staging folder and runs the main
# job on the shipped spreadsheet export: Field-2 (the product name) of every
# line, as Shift_JIS. The narrow file is shown converted back to UTF-8.
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
for f in err*.txt; do
  [ -e "$f" ] && echo "$f: $(cat "$f")"
done
exit "$status"
