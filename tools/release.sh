#!/usr/bin/env bash
# Builds the release package Quillmere-1.64-win32.zip: the plug-in library for
# 32-bit Windows and the README on installing it (tools/release/README.txt).
# The library is checked first: a 32-bit PE with the fourteen BKC_ exports
# under their plain names and no dependency outside the Windows system DLLs,
# and nothing in it that only a test build may obey (the verifier's rounds).
#
# Usage: tools/release.sh [BUILD_DIR]     (default: build/release-win32)
# Prints the path of the package, BUILD_DIR/Quillmere-1.64-win32.zip.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh

build="${1:-build/release-win32}"
package="Quillmere-1.64-win32.zip"

cmake --preset windows -B "$build" -DQUILL_TESTS=OFF -DQUILL_TEST_ROUNDS=OFF >/dev/null
cmake --build "$build" --target quillmere_plugin -j "$(nproc)"

dll="$build/plugin/Quillmere.dll"
python3 tools/release/check_dll.py --shipped "$dll"

stage="$build/package"
rm -rf "$stage" "$build/$package"
mkdir -p "$stage"
cp "$dll" "$stage/Quillmere.dll"
# Windows line ends, so that every editor on the user's side shows it right.
sed 's/$/\r/' tools/release/README.txt > "$stage/README.txt"
(cd "$stage" && zip -q -X "../$package" Quillmere.dll README.txt)
echo "$build/$package"
