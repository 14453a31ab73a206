#!/usr/bin/env bash
# The web-mail fuzz target over its seeds (sign-in and listing answers).
# Usage: fuzz/webmail/run.sh [seconds]    (default 60); see fuzz/run-target.sh.
set -euo pipefail
exec "$(dirname "$0")/../run-target.sh" webmail "${1:-60}"
