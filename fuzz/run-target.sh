#!/usr/bin/env bash
# Builds one fuzz target with the fuzz preset and runs it for a bounded time.
# Usage: fuzz/run-target.sh NAME SECONDS [SEED_DIR ...]
#   builds NAME_fuzz, runs it over its growing corpus, fuzz/NAME/seeds and the
#   given seed folders, with fuzz/NAME/NAME.dict when there is one.
# Environment: QUILL_FUZZ_BUILD (build directory, default build/fuzz).
# Exits non-zero when the fuzzer finds a crash or a sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/.."
name="$1"
seconds="$2"
shift 2
top="$PWD"
build="${QUILL_FUZZ_BUILD:-build/fuzz}"

cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" --target "${name}_fuzz" -j "${JOBS:-2}"

options=(-max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048
         -print_final_stats=1)
[ -f "fuzz/$name/$name.dict" ] && options+=(-dict="$top/fuzz/$name/$name.dict")
seeds=("$top/fuzz/$name/seeds")
for dir in "$@"; do seeds+=("$(cd "$dir" && pwd)"); done

work="$build/fuzz/$name"
mkdir -p "$work/corpus"
cd "$work"
exec "$top/$build/bin/${name}_fuzz" "${options[@]}" corpus "${seeds[@]}"
