#!/usr/bin/env bash
# Runs a Windows program under Wine in the given prefix:
#   wine-run.sh PREFIX win32|win64|auto PROGRAM [ARGS...]
# auto: 32-bit Wine where this kernel runs 32-bit programs, else 64-bit Wine.
# 64-bit programs run on Wine's 64-bit loader itself: Debian's `wine` picks
# the 32-bit one whenever it is installed.
#   wine-run.sh --arch    prints what auto chooses
set -u
runs_32bit() { /usr/lib/wine/wine --version >/dev/null 2>&1; }
if [ "${1:-}" = --arch ]; then
  runs_32bit && echo win32 || echo win64
  exit 0
fi
prefix=$1
arch=$2
shift 2
if [ "$arch" = auto ]; then
  arch=$(runs_32bit && echo win32 || echo win64)
fi
export WINEPREFIX="$prefix" WINEARCH="$arch" WINEDEBUG=-all
if [ "$arch" = win64 ]; then
  export WINELOADER=/usr/lib/wine/wine64
  wine=$WINELOADER
else
  wine=wine
fi
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$prefix"
  # One creator at a time; the others wait for it.
  (flock 9; [ -f "$prefix/system.reg" ] || "$wine" wineboot -i >/dev/null 2>&1) 9>"$prefix.lock"
fi
exec "$wine" "$@"
