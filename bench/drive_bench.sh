#!/usr/bin/env bash
# Reads a 1 GiB file and walks a 20,000-file tree through a drive of
# spindle-driver, beside `cat` of the image itself and beside fuseiso, and
# prints throughputs and ratios (warm page cache for the image in every case).
#
#   bench/drive_bench.sh [BUILD_DIR]     (default: build; relative to the
#                                         checkout, or absolute)
# Environment: BENCH_DIR (scratch folder, default /tmp/spindle-drive-bench),
# BIG_MIB (default 1024), SMALL_FILES (default 20000), RUNS (default 5).
# Needs hyperfine, xorriso, fuseiso and python3. Run as a user that may mount
# FUSE file systems.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
case $build in
/*) driver=$build/bin/spindle-driver ;;
*) driver=$PWD/$build/bin/spindle-driver ;;
esac
[ -x "$driver" ] || { echo "no $driver: build spindle-driver first" >&2; exit 1; }
for tool in hyperfine xorriso fuseiso python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done

work=${BENCH_DIR:-/tmp/spindle-drive-bench}
big=${BIG_MIB:-1024}
small=${SMALL_FILES:-20000}
runs=${RUNS:-5}
tree=$work/tree
iso=$work/bench.iso
export SPINDLE_RUNTIME_DIR=$work/rt SPINDLE_STATE_DIR=$work/state
mkdir -p "$work"

cleanup() {
  fusermount -u "$work/fuseiso" 2>/dev/null || true
  if [ -s "$SPINDLE_RUNTIME_DIR/driver.lock" ]; then
    local pid
    pid=$(cat "$SPINDLE_RUNTIME_DIR/driver.lock")
    kill "$pid" 2>/dev/null || true
    # Gone before the next run starts a driver on the same folder.
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  fi
}
trap cleanup EXIT

stamp="$big $small"
if [ "$(cat "$work/stamp" 2>/dev/null)" != "$stamp" ] || [ ! -f "$iso" ]; then
  echo "generating tree: one ${big} MiB file, ${small} small files" >&2
  rm -rf "$tree"
  mkdir -p "$tree/large"
  head -c "$((big * 1024 * 1024))" /dev/urandom >"$tree/large/big.bin"
  python3 - "$tree" "$small" <<'EOF'
import os, random, sys
root, count = sys.argv[1], int(sys.argv[2])
rnd = random.Random(7)
for i in range(count):
    d = os.path.join(root, "small", "folder %03d" % (i // 200), "sub %d" % (i % 4))
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "file number %05d with a long name.txt" % i), "wb") as f:
        f.write(os.urandom(rnd.randint(100, 6000)))
EOF
  xorriso -as mkisofs -R -J -o "$iso" "$tree" 2>/dev/null
  echo "$stamp" >"$work/stamp"
fi

# A tiny client of the driver's socket: opens or closes drive K: (device Cd0).
cat >"$work/drive.py" <<'PY'
import os, socket, struct, sys
sock = os.path.join(os.environ["SPINDLE_RUNTIME_DIR"], "driver.sock")
def handle():
    s = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
    s.connect(sock)
    name = b"\\Device\\FileDisk\\FileDiskCd0"
    s.send(struct.pack("<IIHHI", 0x4C445053, 1, ord("K"), 0, len(name)) + name)
    assert struct.unpack("<II", s.recv(64))[1] == 0
    return s
def call(s, code, data=b""):
    s.send(struct.pack("<IIII", 0x4C445053, code, len(data), 0) + data)
    return struct.unpack("<III", s.recv(64)[:12])[1]
def close():
    s = handle()
    call(s, 0x8000E004)
    call(s, 0x00090020)
def open_(iso):
    nt = ("\\??\\" + iso).encode("utf-16-le")
    rec = struct.pack("<qqqqIB3xI", 0, 0, 0, 0, 0, 1, len(nt) // 2) + nt + b"\0\0"
    err = call(handle(), 0x8000E010, rec)
    if err:
        sys.exit("open failed: %d" % err)
if sys.argv[1] in ("close", "reopen"):
    close()
if sys.argv[1] in ("open", "reopen"):
    open_(sys.argv[2])
PY

"$driver" --daemon
python3 "$work/drive.py" open "$iso"
drive=$SPINDLE_RUNTIME_DIR/drives/K
mkdir -p "$work/fuseiso"
fuseiso -n "$iso" "$work/fuseiso"

cat "$iso" >/dev/null # the image stays in the page cache from here on
cmp "$drive/large/big.bin" "$tree/large/big.bin"
echo "the ${big} MiB file reads back identical through the drive" >&2

res=$work/results
mkdir -p "$res"
hf() { hyperfine -N --style none --runs "$runs" "$@" >/dev/null; }
# Reading: the image itself; the file through the drive, first read after a
# fresh mount (the drive's own cache cold) and re-read; the file through fuseiso.
hf --warmup 1 --export-json "$res/cat_image.json" "cat $iso"
hf --prepare "python3 $work/drive.py reopen $iso" --export-json "$res/drive_first.json" "cat $drive/large/big.bin"
hf --warmup 1 --export-json "$res/drive_reread.json" "cat $drive/large/big.bin"
hf --warmup 1 --export-json "$res/fuseiso_read.json" "cat $work/fuseiso/large/big.bin"
# Walking: list and stat every entry of the tree.
hf --warmup 1 --export-json "$res/walk_native.json" "find $tree/small -printf %s"
hf --prepare "python3 $work/drive.py reopen $iso" --export-json "$res/walk_drive_first.json" "find $drive/small -printf %s"
hf --warmup 1 --export-json "$res/walk_drive.json" "find $drive/small -printf %s"
hf --warmup 1 --export-json "$res/walk_fuseiso.json" "find $work/fuseiso/small -printf %s"
hf --prepare "sh -c 'fusermount -u $work/fuseiso; fuseiso -n $iso $work/fuseiso'" \
  --export-json "$res/walk_fuseiso_first.json" "find $work/fuseiso/small -printf %s"

python3 - "$res" "$(stat -c %s "$iso")" "$((big * 1024 * 1024))" <<'PY'
import json, os, sys
res, iso_bytes, big_bytes = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
def median(name):
    with open(os.path.join(res, name + ".json")) as f:
        return json.load(f)["results"][0]["median"]
def rate(name, size):
    return size / median(name) / 1e6
cat = rate("cat_image", iso_bytes)
first, reread, fuseiso = (rate(n, big_bytes) for n in ("drive_first", "drive_reread", "fuseiso_read"))
print("read, MB/s (median)")
print("  cat of the image itself        %8.0f" % cat)
print("  drive, first read after mount  %8.0f   %.2f x cat, %.2f x fuseiso" % (first, first / cat, first / fuseiso))
print("  drive, re-read                 %8.0f   %.2f x cat, %.2f x fuseiso" % (reread, reread / cat, reread / fuseiso))
print("  fuseiso                        %8.0f   %.2f x cat" % (fuseiso, fuseiso / cat))
walk = {n: median(n) for n in ("walk_native", "walk_drive_first", "walk_drive", "walk_fuseiso_first", "walk_fuseiso")}
print("walk of the small-file tree (find, stat of every entry), seconds (median)")
print("  native folder                  %8.3f" % walk["walk_native"])
print("  drive, first walk after mount  %8.3f   fuseiso's first walk takes %.2f x as long" % (walk["walk_drive_first"], walk["walk_fuseiso_first"] / walk["walk_drive_first"]))
print("  drive, again                   %8.3f   fuseiso's next walk takes %.2f x as long" % (walk["walk_drive"], walk["walk_fuseiso"] / walk["walk_drive"]))
print("  fuseiso, first walk after mount%8.3f" % walk["walk_fuseiso_first"])
print("  fuseiso, again                 %8.3f" % walk["walk_fuseiso"])
PY
