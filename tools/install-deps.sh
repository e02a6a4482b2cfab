#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, only those that are missing, so a
# second run is quick. Needs root (apt-get).
set -euo pipefail

packages=(cmake g++ make pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev
          libssl-dev libgcrypt20-dev)
# The Windows build and its tests: the MinGW-w64 cross compiler, 32-bit Wine with its own fonts and
# the X libraries it renders with, Xvfb for the GUI tests, ImageMagick for their screenshots.
packages+=(mingw-w64 wine wine32:i386 fonts-wine libxrender1:i386 libxcursor1:i386 libxi6:i386
           libxrandr2:i386 libxinerama1:i386 libxcomposite1:i386 libxfixes3:i386 xvfb imagemagick file)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done

if ((${#missing[@]} > 0)); then
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    # 32-bit Wine comes from the i386 architecture.
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
