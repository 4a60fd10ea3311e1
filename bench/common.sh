# Shared by run.sh and big_file.sh: where things are, and the build that
# both measure. Source it; it sets here, root, out, src, build, prefix and
# defines say and build_and_install.

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
out="$here/out"
# SRC lets the same bench measure another source tree (an exported commit).
src=$(cd "${SRC:-$root}" && pwd)
build="${BUILD:-build}"
case "$build" in /*) ;; *) build="$src/$build" ;; esac
prefix="$out/prefix"

say() { printf '%s\n' "$*" >&2; }

# build_and_install LOG: make build, then install into $prefix, so the
# measured binary finds its table without writing err files.
build_and_install() {
  say "building (make build BUILD=$build) ..."
  if ! make -C "$src" build BUILD="$build" >"$1" 2>&1; then
    tail -n 30 "$1" >&2
    say "build failed; see $1"
    exit 1
  fi
  rm -rf "$prefix"
  cmake --install "$build" --prefix "$prefix" >>"$1"
  pelmora="$prefix/bin/pelmora"
}
