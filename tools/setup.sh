#!/usr/bin/env bash
# Installs what the build and the tests need, from Debian's packages.
# Silent and quick when everything is already there.
set -euo pipefail

packages=(
  cmake g++ make ninja-build pkg-config zlib1g-dev libgtest-dev libgmock-dev libbenchmark-dev
  clang clang-format libclang-rt-14-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev mingw-w64-tools
  wine wine32:i386 wine64 xvfb xauth x11-apps imagemagick zip
  python3 curl tinyproxy fetchmail swaks msmtp gzip
  libgmime-3.0-dev libssl-dev openssl
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  apt-get update -qq >/dev/null
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The MinGW compilers must use the posix thread model (std::thread, std::mutex).
for tool in i686-w64-mingw32-g++ i686-w64-mingw32-gcc x86_64-w64-mingw32-g++ x86_64-w64-mingw32-gcc; do
  if [ -e "/usr/bin/$tool-posix" ] && [ "$(readlink -f "/usr/bin/$tool")" != "$(readlink -f "/usr/bin/$tool-posix")" ]; then
    update-alternatives --set "$tool" "/usr/bin/$tool-posix" >/dev/null
  fi
done
# Each wine architecture's prefix is made on first use by tools/wine-run.sh.
