#!/usr/bin/env bash
# The HTTP answer fuzz target over its seeds (gzip answers, sign-in and
# listing pages). Usage: fuzz/http/run.sh [seconds]    (default 60); see
# fuzz/run-target.sh.
set -euo pipefail
exec "$(dirname "$0")/../run-target.sh" http "${1:-60}"
