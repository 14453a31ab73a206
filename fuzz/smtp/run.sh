#!/usr/bin/env bash
# The SMTP session fuzz target over its seeds (client conversations).
# Usage: fuzz/smtp/run.sh [seconds]    (default 60); see fuzz/run-target.sh.
set -euo pipefail
exec "$(dirname "$0")/../run-target.sh" smtp "${1:-60}"
