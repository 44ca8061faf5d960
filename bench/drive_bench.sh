#!/usr/bin/env bash
# Reads a 1 GiB file and walks a 20,000-file tree through a drive of
# spindle-driver, beside `cat` of the image itself and beside fuseiso, and
# prints throughputs and ratios (warm page cache for the image in every case).
# The same file is read again from the image as a BIN/CUE pair (MODE1/2352
# raw sectors), beside `cat` of the BIN.
#
#   bench/drive_bench.sh [BUILD_DIR]     (default: build; relative to the
#                                         checkout, or absolute)
# Environment: BENCH_DIR (scratch folder, default /tmp/spindle-drive-bench),
# BIG_MIB (default 1024), SMALL_FILES (default 20000), RUNS (default 5).
# Needs xorriso and python3; hyperfine when present (else a plain timer of
# the same runs), fuseiso when present (else its rows are left out). Run as
# a user that may mount FUSE file systems.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
case $build in
/*) driver=$build/bin/spindle-driver ;;
*) driver=$PWD/$build/bin/spindle-driver ;;
esac
[ -x "$driver" ] || { echo "no $driver: build spindle-driver first" >&2; exit 1; }
for tool in xorriso python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done

work=${BENCH_DIR:-/tmp/spindle-drive-bench}
big=${BIG_MIB:-1024}
small=${SMALL_FILES:-20000}
runs=${RUNS:-5}
tree=$work/tree
iso=$work/bench.iso
bin=$work/bench.bin
cue=$work/bench.cue
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
  # The image as raw MODE1 sectors: sync, header, the data, zeroed EDC/ECC.
  python3 - "$iso" "$bin" <<'EOF'
import sys
sync = b"\x00" + b"\xff" * 10 + b"\x00"
bcd = lambda v: bytes([v // 10 * 16 + v % 10])
with open(sys.argv[1], "rb") as src, open(sys.argv[2], "wb") as out:
    lba = 150
    while True:
        block = src.read(2048)
        if not block:
            break
        m, s, f = lba // 4500, lba // 75 % 60, lba % 75
        out.write(sync + bcd(m) + bcd(s) + bcd(f) + b"\x01" + block.ljust(2048, b"\0") + bytes(288))
        lba += 1
EOF
  printf 'FILE "bench.bin" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n' >"$cue"
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
have_fuseiso=$(command -v fuseiso || true)
[ -z "$have_fuseiso" ] || fuseiso -n "$iso" "$work/fuseiso"

cat "$iso" >/dev/null # the image stays in the page cache from here on
cmp "$drive/large/big.bin" "$tree/large/big.bin"
echo "the ${big} MiB file reads back identical through the drive" >&2

res=$work/results
mkdir -p "$res"
if command -v hyperfine >/dev/null; then
  hf() { hyperfine -N --style none --runs "$runs" "$@" >/dev/null; }
else
  # The same runs timed by a small stand-in (--warmup N, --prepare CMD,
  # --export-json FILE, then the command): the median lands where
  # hyperfine's would.
  hf() {
    python3 - "$runs" "$@" <<'EOF'
import json, shlex, statistics, subprocess, sys, time
runs, args = int(sys.argv[1]), sys.argv[2:]
warmup, prepare, out = 0, None, None
while args[0].startswith("--"):
    opt, val, args = args[0], args[1], args[2:]
    if opt == "--warmup": warmup = int(val)
    elif opt == "--prepare": prepare = val
    elif opt == "--export-json": out = val
cmd = shlex.split(args[0])
times = []
for i in range(warmup + runs):
    if prepare:
        subprocess.run(prepare, shell=True, check=True)
    t = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
    if i >= warmup:
        times.append(time.perf_counter() - t)
json.dump({"results": [{"median": statistics.median(times)}]}, open(out, "w"))
EOF
  }
fi
# Reading: the image itself; the file through the drive, first read after a
# fresh mount (the drive's own cache cold) and re-read; the file through fuseiso.
hf --warmup 1 --export-json "$res/cat_image.json" "cat $iso"
hf --prepare "python3 $work/drive.py reopen $iso" --export-json "$res/drive_first.json" "cat $drive/large/big.bin"
hf --warmup 1 --export-json "$res/drive_reread.json" "cat $drive/large/big.bin"
[ -z "$have_fuseiso" ] || hf --warmup 1 --export-json "$res/fuseiso_read.json" "cat $work/fuseiso/large/big.bin"
# Walking: list and stat every entry of the tree.
hf --warmup 1 --export-json "$res/walk_native.json" "find $tree/small -printf %s"
hf --prepare "python3 $work/drive.py reopen $iso" --export-json "$res/walk_drive_first.json" "find $drive/small -printf %s"
hf --warmup 1 --export-json "$res/walk_drive.json" "find $drive/small -printf %s"
if [ -n "$have_fuseiso" ]; then
  hf --warmup 1 --export-json "$res/walk_fuseiso.json" "find $work/fuseiso/small -printf %s"
  hf --prepare "sh -c 'fusermount -u $work/fuseiso; fuseiso -n $iso $work/fuseiso'" \
    --export-json "$res/walk_fuseiso_first.json" "find $work/fuseiso/small -printf %s"
fi
# The same file from the BIN/CUE pair.
cat "$bin" >/dev/null
python3 "$work/drive.py" reopen "$cue"
cmp "$drive/large/big.bin" "$tree/large/big.bin"
hf --warmup 1 --export-json "$res/cat_bin.json" "cat $bin"
hf --prepare "python3 $work/drive.py reopen $cue" --export-json "$res/bin_first.json" "cat $drive/large/big.bin"
hf --warmup 1 --export-json "$res/bin_reread.json" "cat $drive/large/big.bin"

python3 - "$res" "$(stat -c %s "$iso")" "$(stat -c %s "$bin")" "$((big * 1024 * 1024))" <<'PY'
import json, os, sys
res, iso_bytes, bin_bytes, big_bytes = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
def median(name):
    path = os.path.join(res, name + ".json")
    if not os.path.exists(path):
        return None
    with open(path) as f:
        return json.load(f)["results"][0]["median"]
def rate(name, size):
    m = median(name)
    return size / m / 1e6 if m else None
def vs(a, b, what):
    return ", %.2f x %s" % (a / b, what) if a and b else ""
cat, cat_bin = rate("cat_image", iso_bytes), rate("cat_bin", bin_bytes)
first, reread, fuseiso = (rate(n, big_bytes) for n in ("drive_first", "drive_reread", "fuseiso_read"))
bin_first, bin_reread = (rate(n, big_bytes) for n in ("bin_first", "bin_reread"))
print("read, MB/s (median)")
print("  cat of the image itself        %8.0f" % cat)
print("  drive, first read after mount  %8.0f   %.2f x cat%s" % (first, first / cat, vs(first, fuseiso, "fuseiso")))
print("  drive, re-read                 %8.0f   %.2f x cat%s" % (reread, reread / cat, vs(reread, fuseiso, "fuseiso")))
if fuseiso:
    print("  fuseiso                        %8.0f   %.2f x cat" % (fuseiso, fuseiso / cat))
print("  cat of the BIN (MODE1/2352)    %8.0f" % cat_bin)
print("  BIN/CUE, first read            %8.0f   %.2f x cat of the BIN" % (bin_first, bin_first / cat_bin))
print("  BIN/CUE, re-read               %8.0f   %.2f x cat of the BIN" % (bin_reread, bin_reread / cat_bin))
print("re-read ratio (re-read / cat of the image): ISO %.2f, BIN/CUE %.2f" % (reread / cat, bin_reread / cat_bin))
walk = {n: median(n) for n in ("walk_native", "walk_drive_first", "walk_drive", "walk_fuseiso_first", "walk_fuseiso")}
print("walk of the small-file tree (find, stat of every entry), seconds (median)")
print("  native folder                  %8.3f" % walk["walk_native"])
print("  drive, first walk after mount  %8.3f   %.2f x native" % (walk["walk_drive_first"], walk["walk_drive_first"] / walk["walk_native"]))
print("  drive, again                   %8.3f   %.2f x native" % (walk["walk_drive"], walk["walk_drive"] / walk["walk_native"]))
if walk["walk_fuseiso"]:
    print("  fuseiso, first walk after mount%8.3f" % walk["walk_fuseiso_first"])
    print("  fuseiso, again                 %8.3f" % walk["walk_fuseiso"])
PY
