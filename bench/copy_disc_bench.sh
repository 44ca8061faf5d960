#!/usr/bin/env bash
# Copies the same 1 GiB volume with spindle-cli copy-disc (a stand-in disc,
# R = stdio:FILE, in a private drive table) and with dd bs=512K, and prints
# the median times, dd's time over Spindle's (above 1.00 means Spindle is
# faster) and each one's peak memory, also for a 4 GiB sparse volume to show
# that memory does not grow with the disc. The copy runs at nice 10, as the
# page's worker does; dd is timed at its normal priority and at nice 10 too,
# since on a busy machine the priority alone changes the times.
#
#   bench/copy_disc_bench.sh [BUILD_DIR]     (default: build)
# Environment: BENCH_DIR (scratch folder, default /tmp/spindle-copy-bench),
# VOLUME_MIB (default 1024), RUNS (default 5). Needs hyperfine and GNU time.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cli=$(realpath "$build")/bin/spindle-cli
[ -x "$cli" ] || { echo "no $cli: build spindle-cli first" >&2; exit 1; }
for tool in hyperfine /usr/bin/time python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done

work=${BENCH_DIR:-/tmp/spindle-copy-bench}
mib=${VOLUME_MIB:-1024}
runs=${RUNS:-5}
mkdir -p "$work"
trap 'rm -rf "$work"/*.iso "$work/run"' EXIT

if [ "$(stat -c %s "$work/disc.bin" 2>/dev/null)" != "$((mib * 1048576))" ]; then
  echo "generating a ${mib} MiB volume" >&2
  head -c "$((mib * 1048576))" /dev/urandom >"$work/disc.bin"
fi
truncate -s 4G "$work/sparse.bin"

# A private drive table: R: and S: stand in for optical drives.
export SPINDLE_RUNTIME_DIR=$work/run SPINDLE_CONFIG_DIR=$work/cfg
rm -rf "$work/run"
mkdir -p -m 700 "$work/run/dosdevices" "$work/cfg"
echo "stdio:$work/disc.bin" >"$work/run/dosdevices/R:"
echo "stdio:$work/sparse.bin" >"$work/run/dosdevices/S:"

spindle="$cli copy-disc R $work/spindle.iso"
dd="dd if=$work/disc.bin of=$work/dd.iso bs=512K status=none"
hyperfine --warmup 1 --runs "$runs" --style basic --export-json "$work/times.json" \
  --prepare "rm -f $work/spindle.iso $work/dd.iso" \
  -n spindle "$spindle" -n dd "$dd" -n dd-nice10 "nice -n 10 $dd" >&2
rm -f "$work/spindle.iso"
$spindle
cmp "$work/disc.bin" "$work/spindle.iso"

peak() { rm -f "$work"/*.iso; /usr/bin/time -o "$work/peak" -f '%M' "$@" >/dev/null 2>&1; tail -1 "$work/peak"; }
p_spindle=$(peak $spindle)
p_dd=$(peak $dd)
p_sparse=$(peak "$cli" copy-disc S "$work/sparse.iso")

python3 - "$work/times.json" "$p_spindle" "$p_dd" "$p_sparse" "$mib" <<'PY'
import json, sys
res = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
p_spindle, p_dd, p_sparse, mib = (int(x) for x in sys.argv[2:6])
s, d, n = (res[k]["median"] for k in ("spindle", "dd", "dd-nice10"))
print("%-22s %10s %14s %14s" % ("tool", "median s", "tool / spindle", "peak RSS MiB"))
print("%-22s %10.3f %14.2f %14.1f" % ("spindle-cli copy-disc", s, 1.0, p_spindle / 1024))
print("%-22s %10.3f %14.2f %14.1f" % ("dd bs=512K", d, d / s, p_dd / 1024))
print("%-22s %10.3f %14.2f %14s" % ("dd bs=512K, nice 10", n, n / s, "-"))
print("peak RSS of copy-disc: %.1f MiB for %d MiB, %.1f MiB for 4096 MiB (sparse)"
      % (p_spindle / 1024, mib, p_sparse / 1024))
PY
