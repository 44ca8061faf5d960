#!/usr/bin/env bash
# Fails when a C++ file of the tree differs from what clang-format makes of it
# with the tree's .clang-format, and shows the first differences.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || { echo "clang-format is missing (scripts/deps.sh installs it)" >&2; exit 1; }
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  list() { git ls-files -z '*.cpp' '*.h'; }
else
  list() { find . -path ./build -prune -o -path ./build-san -prune -o \( -name '*.cpp' -o -name '*.h' \) -print0; }
fi
if ! out=$(list | xargs -0 clang-format --dry-run --Werror 2>&1); then
  printf '%s\n' "$out" | head -40 >&2
  echo "Unformatted C++ files; format them with: git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format -i" >&2
  exit 1
fi
