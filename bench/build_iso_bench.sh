#!/usr/bin/env bash
# Builds the same generated tree (one large file and several thousand small
# ones) into an ISO image with spindle-cli build-iso, genisoimage -J -R and
# xorriso -as mkisofs -J -R, and prints the median times, the ratios against
# Spindle (above 1.00 means Spindle is faster) and each tool's peak memory.
#
#   bench/build_iso_bench.sh [BUILD_DIR]     (default: build)
# Environment: BENCH_DIR (scratch folder, default /tmp/spindle-iso-bench),
# BIG_MIB (size of the large file, default 800), SMALL_FILES (default 5000),
# RUNS (timed runs per tool, default 5). Needs hyperfine and GNU time.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cli=$PWD/$build/bin/spindle-cli
[ -x "$cli" ] || { echo "no $cli: build spindle-cli first" >&2; exit 1; }
for tool in hyperfine genisoimage xorriso /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done

work=${BENCH_DIR:-/tmp/spindle-iso-bench}
big=${BIG_MIB:-800}
small=${SMALL_FILES:-5000}
runs=${RUNS:-5}
tree=$work/tree
mkdir -p "$work"
trap 'rm -f "$work"/*.iso' EXIT

# The tree is made once and reused while its parameters stay the same.
stamp="$big $small"
if [ "$(cat "$work/stamp" 2>/dev/null)" != "$stamp" ]; then
  echo "generating tree: one ${big} MiB file, ${small} small files" >&2
  rm -rf "$tree"
  mkdir -p "$tree/large"
  head -c "$((big * 1024 * 1024))" /dev/urandom >"$tree/large/big.bin"
  python3 - "$tree" "$small" <<'EOF'
import os, random, sys
root, count = sys.argv[1], int(sys.argv[2])
rnd = random.Random(7)
for i in range(count):
    d = os.path.join(root, "small", "dir%03d" % (i // 100))
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "file %05d.dat" % i), "wb") as f:
        f.write(rnd.randbytes(rnd.randint(1, 64 * 1024)))
EOF
  echo "$stamp" >"$work/stamp"
fi

declare -A cmd=(
  [spindle]="$cli build-iso --label BENCH $work/spindle.iso $tree"
  [genisoimage]="genisoimage -quiet -J -R -V BENCH -o $work/genisoimage.iso $tree"
  [xorriso]="xorriso -as mkisofs -quiet -J -R -V BENCH -o $work/xorriso.iso $tree"
)
order=(spindle genisoimage xorriso)

args=()
for t in "${order[@]}"; do args+=(-n "$t" "${cmd[$t]}"); done
hyperfine --warmup 1 --runs "$runs" --style basic --export-json "$work/times.json" "${args[@]}" >&2

declare -A peak
for t in "${order[@]}"; do
  /usr/bin/time -o "$work/peak" -f '%M' ${cmd[$t]} >/dev/null 2>&1
  peak[$t]=$(tail -1 "$work/peak")
done

python3 - "$work/times.json" "${peak[spindle]}" "${peak[genisoimage]}" "${peak[xorriso]}" <<'EOF'
import json, sys
res = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
peak = dict(zip(["spindle", "genisoimage", "xorriso"], sys.argv[2:5]))
base = res["spindle"]["median"]
print("%-12s %10s %12s %14s" % ("tool", "median s", "time/spindle", "peak RSS MiB"))
for name in ["spindle", "genisoimage", "xorriso"]:
    m = res[name]["median"]
    print("%-12s %10.3f %12.2f %14.1f" % (name, m, m / base, int(peak[name]) / 1024))
EOF
