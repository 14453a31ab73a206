#!/usr/bin/env bash
# The POP3 session fuzz target over its seeds (client conversations).
# Usage: fuzz/pop3/run.sh [seconds]    (default 60); see fuzz/run-target.sh.
set -euo pipefail
exec "$(dirname "$0")/../run-target.sh" pop3 "${1:-60}"
