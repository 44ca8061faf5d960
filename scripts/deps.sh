#!/usr/bin/env bash
# Installs the Debian packages Spindle needs to build, run and test, when any
# is missing. Runs apt-get as root, or through sudo.
set -euo pipefail

packages=(
  build-essential cmake pkg-config libgtest-dev
  libwxgtk3.2-dev fonts-dejavu-core fonts-dejavu-extra fonts-liberation2
  libisofs-dev libburn-dev libfuse3-dev fuse3 zlib1g-dev
  xvfb xauth x11-utils libx11-dev xdg-utils matchbox-window-manager xorriso genisoimage imagemagick
  clang clang-format libclang-rt-14-dev
  desktop-file-utils man-db systemd bash-completion appstream libxml2-utils
  libglib2.0-bin xdotool
  locales wx3.2-i18n
  qemu-system-x86 busybox-static cpio
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The tests of a German desktop need its locale, which Debian generates only
# on request.
if ! locale -a 2>/dev/null | grep -qix 'de_DE.utf8'; then
  echo "Generating the locale de_DE.UTF-8"
  $sudo sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  $sudo locale-gen >/dev/null
fi
