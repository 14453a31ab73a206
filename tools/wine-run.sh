#!/bin/sh
# Runs a Windows program of the cross build under wine: win32 programs with
# wine's 32-bit loader, win64 programs with wine64. Each architecture has a
# wine prefix of its own, created once, quietly, on first use.
#
# Usage: tools/wine-run.sh win32|win64 PROGRAM [ARGS...]
#        tools/wine-run.sh win32|win64 --start    create the prefix, start a
#                                                 persistent wine server and
#                                                 let it settle
#        tools/wine-run.sh win32|win64 --stop     end that server
# QUILL_WINEPREFIX_BASE sets where the prefixes live (default
# ~/.wine-quillmere, giving ~/.wine-quillmere-win32 and -win64).
set -e
arch=$1
shift
case "$arch" in
  win32) loader=/usr/lib/wine/wine ;;
  win64) loader=/usr/lib/wine/wine64 ;;
  *) echo "usage: $0 win32|win64 PROGRAM [ARGS...]" >&2; exit 2 ;;
esac
export WINEARCH="$arch"
# As Debian's own wine wrapper does: wine64 starts further processes with itself.
[ "$arch" = win32 ] || export WINELOADER="$loader"
export WINEPREFIX="${QUILL_WINEPREFIX_BASE:-$HOME/.wine-quillmere}-$arch"
export WINEDEBUG="${WINEDEBUG:--all}"
server=/usr/lib/wine/wineserver

# Created under a lock: ctest starts many programs at once on a fresh machine.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      WINEDLLOVERRIDES="mscoree,mshtml=" "$loader" wineboot -i </dev/null >/dev/null 2>&1 || true
      "$server" -w </dev/null >/dev/null 2>&1 || true
    fi
  ) 9>"$WINEPREFIX.lock"
fi

case "$1" in
  --start)
    # One server for a whole test run, settled before programs start in
    # parallel (a program racing the server's start-up has been seen to hang
    # in its exit).
    "$server" -p </dev/null >/dev/null 2>&1
    "$loader" cmd /c exit </dev/null >/dev/null 2>&1 || true
    exit 0 ;;
  --stop)
    "$server" -k 2>/dev/null || true
    exit 0 ;;
esac
exec "$loader" "$@"
