#!/usr/bin/env bash
# spindle-cli against real optical drives: boots scripts/vm.sh's guest once
# with three emulated ATAPI DVD-ROM drives (a disc; the same disc with read
# errors at chosen sectors through QEMU's blkdebug; no disc) and runs
# tests/vm/guest.sh there with this machine's own spindle-cli.
#   drive_test.sh SPINDLE_CLI CACHE WORK
# Fails when the guest cannot be prepared (no network for the kernel
# package), does not boot, or any check in it fails.
set -euo pipefail
[ $# -eq 3 ] || {
  echo "usage: drive_test.sh SPINDLE_CLI CACHE WORK" >&2
  exit 2
}
here=$(cd "$(dirname "$0")" && pwd)
scripts=$(cd "$here/../../scripts" && pwd)
cli=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
cache=$2
work=$3
scale=${SPINDLE_TEST_TIME_SCALE:-1}
[[ $scale =~ ^[1-9][0-9]*$ ]] || scale=1

case "$cli$work$here" in
*[[:space:]]*)
  echo "drive_test.sh: the guest's command line cannot carry paths with blanks" >&2
  exit 1
  ;;
esac

"$scripts/vm.sh" prepare "$cache"
echo "guest kernel: $(cat "$cache/kernel-package")"

rm -rf "$work"
mkdir -p "$work/tree"
work=$(cd "$work" && pwd)
# A disc of about 1,300 sectors whose data sectors are all different and
# none zero, so that a zero-filled or misplaced sector shows.
head -c 2621440 /dev/urandom >"$work/tree/data.bin"
echo "a small file" >"$work/tree/readme.txt"
xorriso -as mkisofs -quiet -V SPINDLE_VM -J -R -o "$work/disc.iso" "$work/tree"
# Unreadable: two sectors that fill one 4 KiB page (300-301), and single ones
# whose page neighbour is readable (517 after 516, 1000 before 1001), in
# three different 512 KiB chunks of the copy.
bad_sectors=$'300-301\n517\n1000'
{
  for s in 300 301 517 1000; do
    # blkdebug counts 512-byte sectors.
    printf '[inject-error]\nevent = "none"\niotype = "read"\nerrno = "5"\n'
    printf 'sector = "%d"\nonce = "off"\n\n' $((s * 4))
  done
} >"$work/blkdebug.cfg"

cat >"$work/guest-run.sh" <<EOF
#!/bin/sh
export SPINDLE_CLI='$cli' DISC='$work/disc.iso' BAD_SECTORS='$bad_sectors'
exec '$here/guest.sh'
EOF
chmod +x "$work/guest-run.sh"

status=0
SPINDLE_VM_LOG=$work/guest.log "$scripts/vm.sh" run "$cache" $((240 * scale)) "$work/guest-run.sh" \
  -drive if=none,id=disc,media=cdrom,readonly=on,file="$work/disc.iso" \
  -device ide-cd,drive=disc,bus=ide.0,unit=0 \
  -blockdev driver=file,node-name=file1,filename="$work/disc.iso",read-only=on \
  -blockdev driver=blkdebug,node-name=bad,config="$work/blkdebug.cfg",image=file1,read-only=on \
  -device ide-cd,drive=bad,bus=ide.0,unit=1 \
  -device ide-cd,bus=ide.1,unit=0 || status=$?
grep -q '^checks: [1-9][0-9]* passed, 0 failed$' "$work/guest.log" || status=1
exit "$status"
