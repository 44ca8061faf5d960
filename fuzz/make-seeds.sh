#!/usr/bin/env bash
# Remakes the committed seed corpora in corpus/ (run from anywhere; needs
# genisoimage, xorriso and python3). The fuzzers start from these and keep
# what they find elsewhere, so the committed files only change when this runs.
set -euo pipefail
cd "$(dirname "$0")/corpus"
rm -rf records image_index volume_label profile
mkdir -p records image_index volume_label profile
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Images: a Rock Ridge + Joliet image of a small tree, a bootable one with a
# FIFO and a symbolic link, a plain ISO 9660 one whose folder A points back at
# the root (a loop), and a zisofs-compressed one.
mkdir -p "$tmp/src/A/B" "$tmp/boot/b"
printf 'hello\n' >"$tmp/src/A/B/f.txt"
printf 'x%.0s' $(seq 3000) >"$tmp/src/long name.txt"
head -c 2048 /dev/zero >"$tmp/boot/b/boot.img"
mkfifo "$tmp/boot/fifo"
ln -s b/boot.img "$tmp/boot/link"
genisoimage -quiet -no-pad -R -J -o image_index/rr-joliet.iso "$tmp/src"
xorriso -as mkisofs -quiet -no-pad -R -J -b b/boot.img -no-emul-boot -c boot.catalog \
  -o image_index/bootable.iso "$tmp/boot" 2>/dev/null
genisoimage -quiet -no-pad -o "$tmp/plain.iso" "$tmp/src"
xorriso -outdev image_index/zisofs.iso -padding 0 -map "$tmp/src" / -set_filter_r --zisofs / -- \
  -commit >/dev/null 2>&1
python3 - "$tmp/plain.iso" image_index/loop.iso <<'PY'
import struct, sys
b = bytearray(open(sys.argv[1], 'rb').read())
root = 16 * 2048 + 156
at = struct.unpack_from('<I', b, root + 2)[0] * 2048
while b[at]:
    if b[at + 32] == 1 and b[at + 33] == ord('A'):
        b[at + 2:at + 18] = b[root + 2:root + 18]
    at += b[at]
open(sys.argv[2], 'wb').write(b)
PY

# Volume labels: the descriptors of two of the images (the label reader looks
# at nothing past them).
head -c $((20 * 2048)) image_index/rr-joliet.iso >volume_label/joliet
head -c $((18 * 2048)) "$tmp/plain.iso" >volume_label/primary

# Records: the two attach records and the socket messages that carry them.
python3 - <<'PY'
import struct
name = '\\??\\/home/me/a disc.iso'
w = bytearray(46 + 2 * len(name))
struct.pack_into('<q', w, 0, 1 << 20)
w[36] = 1
struct.pack_into('<I', w, 40, len(name))
w[44:44 + 2 * len(name)] = name.encode('utf-16-le')
c = bytearray(15 + len(name) + 1)
struct.pack_into('<qBBH', c, 0, 1 << 20, 1, 0, len(name) + 1)
c[12:12 + len(name)] = name.encode()
magic = 0x4C445053
req = struct.pack('<IIII', magic, 0x8000E010, len(w), 276) + w
dev = '\\Device\\FileDisk\\FileDiskCd0'.encode()
hello = struct.pack('<IIHHI', magic, 1, ord('K'), 0, len(dev)) + dev
for n, data in [('attach-w', w), ('attach', c), ('request', req), ('hello', hello)]:
    open('records/' + n, 'wb').write(data)
PY

# Profiles: a language file in UTF-8 and in UTF-16, and an application
# profile with escapes. The first byte is how many bytes of names follow.
printf '\x0cMOUNT=hist0\n[Mount]\nhist0 = "/home/me/a.iso"\nhist1=%%25 100%%0A\n' >profile/app
printf '\x0bMSG=ID_OK\n' >profile/utf16
printf '[MSG]\r\nID_OK = "Mount"\r\n;c\r\n' | iconv -f utf-8 -t utf-16 >>profile/utf16
ls -l */
