#!/usr/bin/env bash
# Builds the web-mail fuzz target with the fuzz preset and runs it for a
# bounded time over the seeds here (sign-in and listing answers).
# Usage: fuzz/webmail/run.sh [seconds]    (default 60)
# Environment: QUILL_FUZZ_BUILD (build directory, default build/fuzz),
#              QUILL_FUZZ_PARTS (QUILL_PARTS for that build, default: all).
# Exits non-zero when the fuzzer finds a crash or a sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds="${1:-60}"
build="${QUILL_FUZZ_BUILD:-build/fuzz}"

cmake --preset fuzz -B "$build" -DQUILL_PARTS="${QUILL_FUZZ_PARTS:-}" >/dev/null
cmake --build "$build" --target webmail_fuzz -j "${JOBS:-2}"

work="$build/fuzz/webmail"
mkdir -p "$work/corpus"
cd "$work"
exec "$OLDPWD/$build/bin/webmail_fuzz" -max_total_time="$seconds" -max_len=65536 -timeout=10 \
  -rss_limit_mb=2048 -print_final_stats=1 -dict="$OLDPWD/fuzz/webmail/webmail.dict" \
  corpus "$OLDPWD/fuzz/webmail/seeds"
