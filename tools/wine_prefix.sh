#!/bin/sh
# Makes (once) the Wine prefix that the Windows program is tested in: a
# 32-bit Windows whose ANSI code page is 932, as on a Japanese Windows, so
# argument bytes and file names in code page 932 reach pelmora.exe as they
# would there. Prints the lines to eval for using it:
#
#   eval "$(tools/wine_prefix.sh [folder])"      # default: build-win32/wine
#
# Needs wine and wine32:i386 (Debian) and the ja_JP.UTF-8 locale, which it
# generates when it can.
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
PREFIX=${1:-$ROOT/build-win32/wine}
case $PREFIX in /*) ;; *) PREFIX=$(pwd)/$PREFIX ;; esac

if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  localedef -f UTF-8 -i ja_JP ja_JP.UTF-8 >&2
fi

export WINEPREFIX="$PREFIX" WINEARCH=win32 WINEDEBUG=-all
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
if [ ! -f "$PREFIX/system.reg" ]; then
  mkdir -p "$PREFIX"
  wineboot -i >&2 2>/dev/null || wineboot -i >&2
  wineserver -w
fi

cat <<EOT
export WINEPREFIX='$PREFIX' WINEARCH=win32 WINEDEBUG=-all
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
EOT
