#!/usr/bin/env bash
# Builds the SMTP session fuzz target with the fuzz preset and runs it for a
# bounded time over the seeds here (client conversations).
# Usage: fuzz/smtp/run.sh [seconds]    (default 60)
# Environment: QUILL_FUZZ_BUILD (build directory, default build/fuzz),
#              QUILL_FUZZ_PARTS (QUILL_PARTS for that build, default: all).
# Exits non-zero when the fuzzer finds a crash or a sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds="${1:-60}"
build="${QUILL_FUZZ_BUILD:-build/fuzz}"

cmake --preset fuzz -B "$build" -DQUILL_PARTS="${QUILL_FUZZ_PARTS:-}" >/dev/null
cmake --build "$build" --target smtp_fuzz -j "${JOBS:-2}"

work="$build/fuzz/smtp"
mkdir -p "$work/corpus"
cd "$work"
exec "$OLDPWD/$build/bin/smtp_fuzz" -max_total_time="$seconds" -max_len=65536 -timeout=10 \
  -rss_limit_mb=2048 -print_final_stats=1 \
  corpus "$OLDPWD/fuzz/smtp/seeds"
