#!/usr/bin/env bash
# Installs the Debian packages Spindle needs to build, run and test, when any
# is missing. Runs apt-get as root, or through sudo.
set -euo pipefail

packages=(
  build-essential cmake pkg-config libgtest-dev
  libwxgtk3.2-dev fonts-dejavu-core fonts-dejavu-extra fonts-liberation2
  libisofs-dev libburn-dev libfuse3-dev fuse3 zlib1g-dev
  xvfb xauth x11-utils libx11-dev xdg-utils matchbox-window-manager xorriso genisoimage imagemagick
  clang libclang-rt-14-dev
  desktop-file-utils man-db systemd bash-completion
  libglib2.0-bin
  qemu-system-x86 busybox-static cpio
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
