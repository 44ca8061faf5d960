#!/usr/bin/env bash
# Adds a folder of 20,000 small files to the files page through the page's
# own code (tree and engine project), builds the image from the page, and
# builds the same folder with spindle-cli build-iso, printing the medians.
#
#   bench/files_page_bench.sh [BUILD_DIR]     (default: build)
# Environment: BENCH_DIR (scratch folder, default /tmp/spindle-page-bench),
# FILES (default 20000), RUNS (default 5). Needs xvfb-run.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
page=$PWD/$build/bin/files_page_bench
cli=$PWD/$build/bin/spindle-cli
for exe in "$page" "$cli"; do
  [ -x "$exe" ] || { echo "no $exe: build files_page_bench and spindle-cli first" >&2; exit 1; }
done
work=${BENCH_DIR:-/tmp/spindle-page-bench}
files=${FILES:-20000}
runs=${RUNS:-5}
tree=$work/tree/many
mkdir -p "$work"
trap 'rm -f "$work"/*.iso' EXIT

if [ "$(cat "$work/stamp" 2>/dev/null)" != "$files" ]; then
  echo "generating $files files of 1 byte to 16 KiB in folders of 1000" >&2
  rm -rf "$work/tree"
  python3 - "$tree" "$files" <<'PY'
import os, random, sys
root, count = sys.argv[1], int(sys.argv[2])
rnd = random.Random(7)
for i in range(count):
    d = os.path.join(root, "dir%02d" % (i // 1000))
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "file %05d.dat" % i), "wb") as f:
        f.write(rnd.randbytes(rnd.randint(1, 16 * 1024)))
PY
  echo "$files" >"$work/stamp"
fi

median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

# One warm-up round, then RUNS timed rounds in one process (the page lives
# on, as in the program; Reset empties it between rounds).
out=$(xvfb-run -a -s "-screen 0 1280x1024x24" "$page" "$tree" "$work/page.iso" $((runs + 1)) | tail -n "$runs")
add=$(awk '{print $2}' <<<"$out" | median)
addcpu=$(awk '{print $4}' <<<"$out" | median)
pagebuild=$(awk '{print $8}' <<<"$out" | median)

"$cli" build-iso "$work/cli.iso" "$tree" 2>/dev/null # warm-up
clitimes=()
for _ in $(seq "$runs"); do
  start=$(date +%s.%N)
  "$cli" build-iso "$work/cli.iso" "$tree" 2>/dev/null
  clitimes+=("$(echo "$(date +%s.%N) - $start" | bc)")
done
clibuild=$(printf '%s\n' "${clitimes[@]}" | median)

printf 'files page, Add Folder (%s files): %.3f s wall, %.3f s CPU\n' "$files" "$add" "$addcpu"
printf 'files page, Build Image:           %.3f s\n' "$pagebuild"
printf 'spindle-cli build-iso:             %.3f s (walk and build, process included)\n' "$clibuild"
printf 'page build / cli build:            %.2f\n' "$(echo "$pagebuild / $clibuild" | bc -l)"
