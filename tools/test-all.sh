#!/usr/bin/env bash
# Builds and runs every suite: native, AddressSanitizer+UBSan, ThreadSanitizer,
# the Windows suite under wine (with Xvfb for the windows), and the fuzz
# targets for a bounded time each.
# Usage: tools/test-all.sh [preset ...]   (default: format native asan tsan windows fuzz)
# "format" checks every C and C++ source file against .clang-format.
# QUILL_FUZZ_SECONDS sets the time per fuzz target (default 60).
#
# The Windows suite runs where this machine can run it: the 32-bit build
# (`windows`) under wine where 32-bit programs run; where they cannot, the
# 32-bit library is checked without running it and the whole suite runs from
# the 64-bit build (`windows64`) under wine64. QUILL_WINDOWS64=1 forces the
# 64-bit path.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh

export WINEDEBUG=-all
jobs=$(nproc)

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(format native asan tsan windows fuzz)

build() {
  echo "== $1: configure and build"
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$jobs"
}

# Why 32-bit Windows programs cannot run here, or nothing when they can. The
# kernel is asked first (an i386 program of wine's own, refused at once where
# the kernel has no 32-bit support); then a tiny i686 Windows program must
# print its line under wine, within a bound that covers creating the prefix.
why_no_win32() {
  if [ "${QUILL_WINDOWS64:-0}" = 1 ]; then
    echo "QUILL_WINDOWS64=1 asks for it"
    return
  fi
  local out
  if ! out=$(timeout 20 bash -c '/usr/lib/wine/wine --version' 2>&1); then
    echo "this machine cannot run 32-bit programs (wine's i386 loader: ${out##*: })"
    return
  fi
  local probe=build/probe
  mkdir -p "$probe"
  printf '#include <stdio.h>\nint main(void) { puts("win32 runs"); return 0; }\n' >"$probe/probe.c"
  i686-w64-mingw32-gcc -o "$probe/probe32.exe" "$probe/probe.c"
  if ! out=$(timeout 180 tools/wine-run.sh win32 "$probe/probe32.exe" 2>&1) ||
     [ "$(printf '%s' "$out" | tr -d '\r')" != "win32 runs" ]; then
    echo "a 32-bit Windows program does not run under wine here"
  fi
}

# The Windows suite of one preset under its wine, on a virtual display. One
# wine server for the whole run, started and settled before the tests run in
# parallel. A test that wine leaves hanging is tried once more; a real failure
# fails twice.
windows_suite() {
  local preset=$1 arch=$2
  build "$preset"
  echo "== $preset: test"
  tools/wine-run.sh "$arch" --stop
  xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    tools/wine-run.sh "$1" --start
    ctest --preset "$2" -j "$3" --timeout 600 --repeat until-pass:2
    status=$?
    tools/wine-run.sh "$1" --stop
    exit $status' _ "$arch" "$preset" "$jobs"
  # The UI tests' screenshots, as BMP from the tests and PNG beside them.
  for bmp in "build/$preset"/tests/ui/screenshots/*.bmp; do
    [ -e "$bmp" ] || continue
    convert "$bmp" "${bmp%.bmp}.png" || echo "screenshot $bmp: no PNG made" >&2
  done
}

for preset in "${presets[@]}"; do
  case "$preset" in
    format)
      tools/format-check.sh ;;
    fuzz)
      for script in fuzz/*/run.sh; do
        echo "== fuzz: $script"
        log="build/fuzz-$(basename "$(dirname "$script")").log"
        mkdir -p build
        if bash "$script" "${QUILL_FUZZ_SECONDS:-60}" >"$log" 2>&1; then
          tail -n 3 "$log"
        else
          tail -n 60 "$log"
          echo "fuzz: $script failed (log: $log)" >&2
          exit 1
        fi
      done ;;
    windows)
      why=$(why_no_win32)
      if [ -z "$why" ]; then
        echo "== windows: 32-bit programs run here, so the 32-bit suite runs under wine"
        windows_suite windows win32
      else
        echo "== windows: $why, so the 32-bit library is checked without running it and the 64-bit suite runs under wine64"
        build windows
        ctest --preset windows -L noexec --timeout 600
        windows_suite windows64 win64
      fi ;;
    windows64)
      windows_suite windows64 win64 ;;
    *)
      build "$preset"
      echo "== $preset: test"
      ctest --preset "$preset" -j "$jobs" --timeout 600 ;;
  esac
done
