#!/usr/bin/env bash
# Installs every Debian 12 package Vantrel needs to build, run, test and benchmark.
# Runs as root, or through sudo for a normal user. Installs only what is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format
  qt6-base-dev qt6-serialport-dev qt6-qpa-plugins libqt6svg6 qt6-tools-dev qt6-l10n-tools
  libasound2-dev libudev-dev
  fonts-arphic-uming
  xxd xvfb xauth x11-utils
  clang libclang-rt-14-dev valgrind
  desktop-file-utils appstream xdotool file
  lintian help2man
  binutils binutils-arm-none-eabi gcc-arm-none-eabi
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
  SUDO=()
else
  SUDO=(sudo)
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -q
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
