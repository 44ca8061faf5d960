#!/usr/bin/env bash
# Burns the same image (1 GiB of random data by default) to a libburn stdio:
# pseudo-drive with spindle-cli burn (through a drive letter of the drive
# table, as a user would) and with cdrskin, and prints the median times, the
# ratio against Spindle (above 1.00 means Spindle is faster) and each tool's
# peak memory.
#
#   bench/burn_bench.sh [BUILD_DIR]     (default: build)
# Environment: BENCH_DIR (scratch folder, default /tmp/spindle-burn-bench),
# IMAGE_MIB (default 1024), RUNS (timed runs per tool, default 5). Needs
# hyperfine, cdrskin and GNU time.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cli=$(realpath "$build")/bin/spindle-cli
[ -x "$cli" ] || { echo "no $cli: build spindle-cli first" >&2; exit 1; }
for tool in hyperfine cdrskin /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done

work=${BENCH_DIR:-/tmp/spindle-burn-bench}
mib=${IMAGE_MIB:-1024}
runs=${RUNS:-5}
mkdir -p "$work"
trap 'rm -rf "$work"/target-* "$work"/runtime "$work"/config' EXIT

if [ "$(stat -c %s "$work/image.iso" 2>/dev/null)" != "$((mib * 1024 * 1024))" ]; then
  echo "generating a ${mib} MiB image" >&2
  head -c "$((mib * 1024 * 1024))" /dev/urandom >"$work/image.iso"
fi

# A private drive table where R: is a file standing in for a recorder.
export SPINDLE_RUNTIME_DIR=$work/runtime SPINDLE_CONFIG_DIR=$work/config
rm -rf "$SPINDLE_RUNTIME_DIR" "$SPINDLE_CONFIG_DIR"
mkdir -p "$SPINDLE_CONFIG_DIR"
echo "R = stdio:$work/target-spindle" >"$SPINDLE_CONFIG_DIR/drives.conf"

# cdrskin run by root writes to a stdio: file only when allowed by this file.
if [ "$(id -u)" -eq 0 ] && [ ! -e "$HOME/cdrskin_permissions/allow_emulated_drives" ]; then
  echo "creating $HOME/cdrskin_permissions/allow_emulated_drives (cdrskin's permission for root)" >&2
  mkdir -p "$HOME/cdrskin_permissions" && touch "$HOME/cdrskin_permissions/allow_emulated_drives"
fi

declare -A cmd=(
  [spindle]="$cli burn $work/image.iso R"
  [cdrskin]="cdrskin --allow_emulated_drives -tao dev=stdio:$work/target-cdrskin $work/image.iso"
)
order=(spindle cdrskin)

args=()
for t in "${order[@]}"; do
  args+=(-n "$t" --prepare "rm -f $work/target-$t" "${cmd[$t]}")
done
hyperfine --warmup 1 --runs "$runs" --style basic --export-json "$work/times.json" "${args[@]}" >&2

declare -A peak
for t in "${order[@]}"; do
  rm -f "$work/target-$t"
  /usr/bin/time -o "$work/peak" -f '%M' ${cmd[$t]} >/dev/null 2>&1
  peak[$t]=$(tail -1 "$work/peak")
  cmp -s "$work/image.iso" "$work/target-$t" || echo "warning: $t did not write the image exactly" >&2
done

python3 - "$work/times.json" "${peak[spindle]}" "${peak[cdrskin]}" <<'PY'
import json, sys
res = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
peak = dict(zip(["spindle", "cdrskin"], sys.argv[2:4]))
base = res["spindle"]["median"]
print("%-10s %10s %12s %14s" % ("tool", "median s", "time/spindle", "peak RSS MiB"))
for name in ["spindle", "cdrskin"]:
    m = res[name]["median"]
    print("%-10s %10.3f %12.2f %14.1f" % (name, m, m / base, int(peak[name]) / 1024))
PY
