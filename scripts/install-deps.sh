#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
set -euo pipefail
# binutils: the fault sweep names code paths with addr2line; clang: the fuzz targets;
# nlohmann-json3-dev: the laptop files' reader (header-only, natively and for MinGW).
packages=(cmake ninja-build g++ binutils libgtest-dev libgmock-dev googletest libbenchmark-dev nlohmann-json3-dev
          g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 xvfb libssl-dev
          clang-14 libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi
