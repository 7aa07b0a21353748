#!/usr/bin/env bash
# Installs the Debian 12 packages Lumidra builds, tests and runs with.
# Only what is missing is installed; safe to run again.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang lld python3
  qtbase5-dev qtbase5-dev-tools libqt5svg5-dev
  zlib1g-dev libdeflate-dev liblcms2-dev libopenexr-dev libraw-dev libtiff-dev libomp-dev
  libimage-exiftool-perl dcraw liblensfun-data-v1
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
