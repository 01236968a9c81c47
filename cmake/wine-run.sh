#!/usr/bin/env bash
# Runs a Windows executable under 32-bit Wine in the given prefix:
#   wine-run.sh PREFIX PROGRAM.exe [ARGS...]
set -u
prefix=$1
shift
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$prefix"
  # One creator at a time; the others wait for it.
  (flock 9; [ -f "$prefix/system.reg" ] || wineboot -i >/dev/null 2>&1) 9>"$prefix.lock"
fi
exec wine "$@"
