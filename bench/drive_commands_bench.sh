#!/usr/bin/env bash
# Times the drive commands a user runs from a shell: a mount and dismount
# round trip of an image with many files (spindle-cli on spindle-driver,
# beside fuseiso + fusermount, also with a walk of the tree), and reading an image's volume label
# (spindle-cli label, beside isoinfo -d). Prints hyperfine's ratios.
#
#   bench/drive_commands_bench.sh [BUILD_DIR]     (default: build)
# Environment: BENCH_DIR (scratch folder, default /tmp/spindle-drive-cmd-bench),
# FILES (default 5000), RUNS (default 20). Needs hyperfine, xorriso, fuseiso,
# isoinfo; run as a user that may mount FUSE file systems.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bin=$PWD/$build/bin
for b in spindle-cli spindle-driver; do
  [ -x "$bin/$b" ] || { echo "no $bin/$b: build it first" >&2; exit 1; }
done
for tool in hyperfine xorriso fuseiso isoinfo; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done

work=${BENCH_DIR:-/tmp/spindle-drive-cmd-bench}
files=${FILES:-5000}
runs=${RUNS:-20}
export SPINDLE_RUNTIME_DIR=$work/rt SPINDLE_CONFIG_DIR=$work/cfg SPINDLE_STATE_DIR=$work/state
rm -rf "$work"
mkdir -p "$work/tree" "$work/fuseiso" "$SPINDLE_RUNTIME_DIR/dosdevices" "$SPINDLE_CONFIG_DIR"
echo / > "$SPINDLE_RUNTIME_DIR/dosdevices/C:"

driver_pid=
cleanup() {
  fusermount -u "$work/fuseiso" 2>/dev/null || true
  [ -n "$driver_pid" ] && kill "$driver_pid" 2>/dev/null && wait "$driver_pid" 2>/dev/null || true
}
trap cleanup EXIT

for i in $(seq 1 "$files"); do
  d=$work/tree/d$((i % 50))
  mkdir -p "$d"
  printf 'file %d\n' "$i" > "$d/file-$i.txt"
done
xorriso -as mkisofs -quiet -J -R -V Bench -o "$work/bench.iso" "$work/tree" 2>/dev/null

"$bin/spindle-driver" & driver_pid=$!
for _ in $(seq 200); do "$bin/spindle-driver" --status && break; sleep 0.05; done

cli=$bin/spindle-cli
hyperfine -N --warmup 2 --runs "$runs" \
  -n "spindle-cli mount + dismount" \
  "sh -c '$cli mount $work/bench.iso K >/dev/null && $cli dismount K'" \
  -n "fuseiso + fusermount -u" \
  "sh -c 'fuseiso -n $work/bench.iso $work/fuseiso && fusermount -u $work/fuseiso'"

# fuseiso reads the tree lazily and spindle-driver indexes it at mount:
# with a walk of every file name the two do the same work.
hyperfine -N --warmup 2 --runs "$runs" \
  -n "spindle-cli mount + find + dismount" \
  "sh -c '$cli mount $work/bench.iso K >/dev/null && find $SPINDLE_RUNTIME_DIR/drives/K >/dev/null && $cli dismount K'" \
  -n "fuseiso + find + fusermount -u" \
  "sh -c 'fuseiso -n $work/bench.iso $work/fuseiso && find $work/fuseiso >/dev/null && fusermount -u $work/fuseiso'"

hyperfine -N --warmup 3 --runs "$runs" \
  -n "spindle-cli label" "$cli label $work/bench.iso" \
  -n "isoinfo -d" "isoinfo -d -i $work/bench.iso"
