#!/bin/bash
# Runs inside the guest of scripts/vm.sh, chrooted in the host's root: checks
# spindle-cli against the guest's emulated drives and prints one "ok" or
# "not ok" line per check, then "checks: N passed, M failed".
#   SPINDLE_CLI   the host's spindle-cli
#   DISC          the ISO in the first and second drive
#   BAD_SECTORS   the sectors the second drive cannot read, as a .badsectors list
# Drives: ide.0 master holds DISC, ide.0 slave holds DISC with read errors
# at BAD_SECTORS, ide.1 master is empty.
set -u
cli=$SPINDLE_CLI
work=/dev/shm/work
mkdir -p "$work" /dev/shm/config/spindle
export XDG_CONFIG_HOME=/dev/shm/config
export SPINDLE_RUNTIME_DIR=/dev/shm/run
mkdir -m 0700 "$SPINDLE_RUNTIME_DIR"
passed=0
failed=0

check() { # DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then
    echo "ok - $what"
    passed=$((passed + 1))
  else
    echo "not ok - $what"
    failed=$((failed + 1))
  fi
}

# Runs spindle-cli, shows its output and status in the log; $out, $err, $rc.
run() {
  echo "\$ spindle-cli $*"
  local start=$SECONDS
  "$cli" "$@" >"$work/out" 2>"$work/err"
  rc=$?
  out=$(cat "$work/out")
  err=$(cat "$work/err")
  [ -z "$out" ] || sed 's/^/  | /' "$work/out"
  [ -z "$err" ] || sed 's/^/  ! /' "$work/err"
  echo "  status $rc ($((SECONDS - start)) s)"
}

# The drive's state as the kernel's cdrom driver reports it.
tray_state() { # DEVICE
  perl -e 'use Fcntl; sysopen(my $f, $ARGV[0], O_RDONLY | O_NONBLOCK) or die "$!\n";
           my $s = ioctl($f, 0x5326, 0); # CDROM_DRIVE_STATUS
           print((qw(none no-disc tray-open not-ready disc-ok))[$s // 0], "\n")' "$1"
}

# Waits up to 20 s for the drive to reach a state (a drive may report "not
# ready" for a moment after its tray closes); prints the state it has.
wait_state() { # DEVICE STATE
  local state
  for _ in $(seq 200); do
    state=$(tray_state "$1")
    [ "$state" = "$2" ] && break
    sleep 0.1
  done
  echo "$state"
}

# The node of the drive at an ATA address of sysfs ("0:0:0:0": ide.0 master).
node_at() {
  for d in /sys/block/sr*; do
    case $(readlink "$d/device") in */"$1") echo "/dev/${d##*/}" ;; esac
  done
}

# Every differing sector of two files of equal length, one a line.
differing_sectors() {
  cmp -l "$1" "$2" | awk '{ print int(($1 - 1) / 2048) }' | uniq
}

# The expected sector list as single sector numbers.
expand_ranges() {
  awk -F- '{ for (s = $1; s <= ($2 == "" ? $1 : $2); s++) print s }' <<<"$1"
}

for _ in $(seq 600); do
  [ "$(ls -d /sys/block/sr* 2>/dev/null | wc -l)" -ge 3 ] && break
  sleep 0.1
done
good=$(node_at 0:0:0:0)
bad=$(node_at 0:0:1:0)
empty=$(node_at 1:0:0:0)
for dev in "$good" "$bad" "$empty"; do
  s=/sys/block/${dev#/dev/}/device
  echo "drive $dev: vendor '$(cat $s/vendor)' model '$(cat $s/model)' rev '$(cat $s/rev)'" \
    "state $(tray_state "$dev")"
done
printf 'R = %s\nS = %s\nT = %s\n' "$good" "$bad" "$empty" >"$XDG_CONFIG_HOME/spindle/drives.conf"
echo "drives.conf:"
sed 's/^/  /' "$XDG_CONFIG_HOME/spindle/drives.conf"
disc_bytes=$(stat -c %s "$DISC")

run drives
check "the table seeds the machine's first optical drive as D:" \
  grep -qx "D:	cdrom	/dev/sr0" "$work/out"
check "drives.conf's R: names $good" grep -qx "R:	cdrom	$good" "$work/out"

run devices
check "devices lists R: as QEMU's DVD-ROM at $good" \
  grep -qx "R:	QEMU	QEMU DVD-ROM	$good" "$work/out"
check "devices lists the empty drive T: too" grep -q "^T:	QEMU	QEMU DVD-ROM	" "$work/out"

run copy-disc R: "$work/copy.iso"
check "copy-disc from $good succeeds" test "$rc" -eq 0
check "the copy is the disc byte for byte" cmp "$DISC" "$work/copy.iso"
sha256sum "$DISC" "$work/copy.iso" | sed 's/^/  /'

run copy-disc --label RELABELLED R: "$work/relabel.iso"
check "copy-disc --label succeeds" test "$rc" -eq 0
run label "$work/relabel.iso"
check "the copy carries the new label" test "$out" = RELABELLED
changed=$(differing_sectors "$DISC" "$work/relabel.iso" | tr '\n' ' ')
echo "  sectors changed by the label: $changed"
check "only the volume descriptors changed, and the copy is as long as the disc" \
  test -n "$changed" -a -z "$(tr ' ' '\n' <<<"$changed" | awk '$1 != "" && ($1 < 16 || $1 > 19)')" \
  -a "$(stat -c %s "$work/relabel.iso")" -eq "$disc_bytes"

run copy-disc --ignore-read-errors S: "$work/bad.iso"
check "copy-disc with read errors ends with status 3" test "$rc" -eq 3
check "the copy is exactly as long as the disc" test "$(stat -c %s "$work/bad.iso")" -eq "$disc_bytes"
echo "  bad.iso.badsectors:"
sed 's/^/    /' "$work/bad.iso.badsectors" 2>/dev/null
check "the .badsectors list names exactly the unreadable sectors" \
  test "$(cat "$work/bad.iso.badsectors" 2>/dev/null)" = "$BAD_SECTORS"
zeroed=$(differing_sectors "$DISC" "$work/bad.iso" | tr '\n' ' ')
echo "  sectors that differ from the disc: $zeroed"
check "only the unreadable sectors differ from the disc (not their neighbours)" \
  test "$zeroed" = "$(expand_ranges "$BAD_SECTORS" | tr '\n' ' ')"
nonzero=0
for s in $(expand_ranges "$BAD_SECTORS"); do
  dd if="$work/bad.iso" bs=2048 skip="$s" count=1 status=none | cmp -s - <(head -c 2048 /dev/zero) ||
    nonzero=$((nonzero + 1))
done
check "the unreadable sectors are zeros" test "$nonzero" -eq 0

run copy-disc T: "$work/empty.iso"
check "copy-disc from the empty drive is refused" test "$rc" -ne 0
check "the refusal says there is no disc" grep -qi "no disc" "$work/err"
check "nothing was written" test -z "$(ls "$work" | grep '^empty')"

echo "  T: $(tray_state "$empty")"
run eject T:
check "eject T: succeeds" test "$rc" -eq 0
state=$(wait_state "$empty" tray-open)
echo "  T: $state"
check "the tray of T: is open" test "$state" = tray-open
run close-tray T:
check "close-tray T: succeeds" test "$rc" -eq 0
state=$(wait_state "$empty" no-disc)
echo "  T: $state"
check "the tray of T: is closed again, without a disc" test "$state" = no-disc

run burn "$DISC" R:
check "burn to the DVD-ROM drive is refused" test "$rc" -ne 0
check "the refusal says the drive cannot write" grep -qi "cannot write" "$work/err"
check "nothing was started" test -z "$(grep -E 'Preparing|Writing' "$work/err")"
run erase R:
check "erase on the DVD-ROM drive is refused" test "$rc" -ne 0
check "the refusal says the drive cannot write" grep -qi "cannot write" "$work/err"
check "nothing was started" test -z "$(grep -E 'Erasing' "$work/err")"

run eject R:
check "eject R: opens the tray with its disc" test "$rc" -eq 0 -a "$(wait_state "$good" tray-open)" = tray-open
run close-tray R:
check "close-tray R: brings the disc back" test "$rc" -eq 0 -a "$(wait_state "$good" disc-ok)" = disc-ok

echo "checks: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
