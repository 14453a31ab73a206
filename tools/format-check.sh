#!/usr/bin/env bash
# Fails on the first C or C++ source file that the committed .clang-format
# would change, naming it; `clang-format -i FILE` mends it.
set -euo pipefail
cd "$(dirname "$0")/.."
while IFS= read -r file; do
  if ! clang-format --dry-run --Werror "$file" >/dev/null 2>&1; then
    echo "format: $file differs from .clang-format (run: clang-format -i $file)" >&2
    exit 1
  fi
done < <(git ls-files -- '*.cpp' '*.h' '*.c')
echo "format: every source file follows .clang-format"
