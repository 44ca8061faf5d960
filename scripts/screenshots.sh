#!/usr/bin/env bash
# Saves the main window on each of its five pages as PNG files in DIR
# (mount.png, create.png, files.png, unmount.png, burn.png), drawn under a
# private X server. LANGUAGE picks a section of languiu.ini (default: the
# file's CURRENT). GDK_DPI_SCALE or GDK_SCALE in the environment draw the
# window at that text or display scale; SPINDLE_SCREENSHOT_SCREEN sets the
# X screen (default 1280x1024x24; give 2400x1800x24 for GDK_SCALE=2).
#   scripts/screenshots.sh DIR [LANGUAGE]
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: $0 DIR [LANGUAGE]" >&2; exit 2; }
cd "$(dirname "$0")/.."
mkdir -p "$1"
dir=$(cd "$1" && pwd)
build=${SPINDLE_BUILD_DIR:-build}
SPINDLE_BUILD_DIR=$build scripts/build.sh --target test_app_gui spindle_resources
export SPINDLE_SCREENSHOT_DIR=$dir
[ $# -ge 2 ] && export SPINDLE_SCREENSHOT_LANGUAGE=$2
xvfb-run -a -s "-screen 0 ${SPINDLE_SCREENSHOT_SCREEN:-1280x1024x24}" "$build/bin/test_app_gui" --gtest_filter='Screenshots.*'
ls "$dir"/*.png
