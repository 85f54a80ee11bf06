#!/usr/bin/env bash
# Installs the Debian 12 packages Quarlon needs to build, run and test.
# Quick when everything is there: apt runs only for missing packages.
set -euo pipefail

PACKAGES=(
  g++ cmake ninja-build pkg-config ccache
  libvtk9-dev libvtk9-qt-dev qtbase5-dev libopencv-dev
  libgtest-dev libgmock-dev
  xvfb xauth libgl1-mesa-dri poppler-utils
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "deps.sh: run as root or install sudo" >&2; exit 1; }
  SUDO="sudo"
fi
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
