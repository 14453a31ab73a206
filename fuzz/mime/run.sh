#!/usr/bin/env bash
# The MIME fuzz target over the hand-written seeds here plus the messages that
# Python's email package makes for the corpus test.
# Usage: fuzz/mime/run.sh [seconds]    (default 60); see fuzz/run-target.sh.
set -euo pipefail
cd "$(dirname "$0")/../.."
work="${QUILL_FUZZ_BUILD:-build/fuzz}/fuzz/mime"
rm -rf "$work/generated" "$work/generated-seeds"
mkdir -p "$work/generated" "$work/generated-seeds"
python3 tests/mime/corpus/make_corpus.py "$work/generated" >/dev/null
cp "$work/generated"/*.eml "$work/generated-seeds/"
exec fuzz/run-target.sh mime "${1:-60}" "$work/generated-seeds"
