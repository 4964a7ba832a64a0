#!/usr/bin/env bash
# Installs the Debian packages the builds, tests and demo need (when missing).
set -euo pipefail

packages=(
  cmake make g++ python3 binutils
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 libz-mingw-w64-dev wine64
  nlohmann-json3-dev libcurl4-openssl-dev zlib1g-dev
  googletest libgtest-dev libbenchmark-dev libspdlog-dev
  clang libclang-rt-14-dev llvm lld pkg-config
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null; then SUDO=sudo; else
    echo "missing packages: ${missing[*]} (run as root to install them)" >&2; exit 1
  fi
else
  SUDO=
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
