#!/usr/bin/env bash
# Installs the Debian 12 packages Quarlon needs to build, run and test.
# Quick when everything is there: apt runs only for missing packages.
set -euo pipefail

PACKAGES=(
  g++ cmake ninja-build pkg-config ccache
  libvtk9-dev libvtk9-qt-dev qtbase5-dev libopencv-dev libisal-dev zlib1g-dev libdeflate-dev libgl-dev
  libgtest-dev libgmock-dev
  xvfb xauth libgl1-mesa-dri poppler-utils
)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

missing=()
for p in "${PACKAGES[@]}"; do
  installed "$p" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

# ParaView's Python package conflicts with python3-vtk9, on which libvtk9-dev
# depends; apt would only print a resolver error, so say what to do instead.
if installed python3-paraview && ! installed libvtk9-dev; then
  echo "deps.sh: python3-paraview conflicts with libvtk9-dev (through python3-vtk9);" \
       "remove it (apt-get remove python3-paraview) or build in a container." >&2
  exit 1
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "deps.sh: run as root or install sudo" >&2; exit 1; }
  SUDO="sudo"
fi
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
