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
# Disc image descriptions, against the data files the fuzz targets put
# beside them (a.bin: 4 sectors of 2352 bytes, b.bin: 3 of 2048, disc.img: 8
# of 2352, disc.mdf: 4 of 2448): a cue sheet of every command, a CloneCD
# descriptor of a data and an audio track, Nero images with the new footer
# (DAO) and the old one (TAO), and an Alcohol descriptor with subchannel data.
rm -rf cue_sheet clonecd nero alcohol
mkdir -p cue_sheet clonecd nero alcohol
printf 'REM seed\r\nFILE "a.bin" BINARY\r\n  TRACK 01 MODE1/2352\r\n    INDEX 01 00:00:00\r\n  TRACK 02 AUDIO\r\n    PREGAP 00:02:00\r\n    INDEX 00 00:00:02\r\n    INDEX 01 00:00:03\r\nFILE b.bin MOTOROLA\r\n  TRACK 03 MODE1/2048\r\n    INDEX 01 00:00:00\r\n' >cue_sheet/mixed.cue
printf 'FILE a.bin BINARY\n TRACK 01 MODE2/2352\n  INDEX 01 00:00:00\n' >cue_sheet/xa.cue
python3 - <<'PY'
import struct
def entry(n, point, control, lba):
    return ('[Entry %d]\nSession=1\nPoint=0x%02x\nADR=0x01\nControl=0x%02x\nTrackNo=0\n'
            'PLBA=%d\n' % (n, point, control, lba))
ccd = ('[CloneCD]\nVersion=3\n[Disc]\nTocEntries=4\nSessions=1\n' + entry(0, 0xa0, 4, 0) +
       entry(1, 0xa2, 4, 8) + entry(2, 1, 4, 0) + entry(3, 2, 0, 5) +
       '[TRACK 1]\nMODE=1\nINDEX 1=0\n[TRACK 2]\nMODE=0\nINDEX 1=5\n')
open('clonecd/two-tracks.ccd', 'w').write(ccd)

def chunk(cid, body):
    return cid + struct.pack('>I', len(body)) + body
data = b'\0' * 4096
cuex = b''.join(struct.pack('>BBBBi', 0x41, t, i, 0, lba)
                for t, i, lba in [(1, 0, -150), (1, 1, 0), (0xaa, 1, 2)])
daox = (struct.pack('>I', 0) + b'\0' * 14 + b'\0\x01' + b'\x01\x01' + b'\0' * 12 +
        struct.pack('>HB3xQQQ', 2048, 0, 0, 0, 4096))
tail = chunk(b'CUEX', cuex) + chunk(b'DAOX', daox) + chunk(b'END!', b'')
open('nero/dao-new.nrg', 'wb').write(data + tail + b'NER5' + struct.pack('>Q', len(data)))
etnf = struct.pack('>IIIII', 0, 4096, 0, 0, 0)
tail = chunk(b'ETNF', etnf) + chunk(b'END!', b'')
open('nero/tao-old.nrg', 'wb').write(data + tail + b'NERO' + struct.pack('>I', len(data)))

head = bytearray(88)
head[0:16] = b'MEDIA DESCRIPTOR'
head[16:18] = b'\x01\x03'
struct.pack_into('<HH', head, 0x12, 0, 1)
struct.pack_into('<I', head, 0x50, 88)
tracks_at = 88 + 24
session = struct.pack('<iiHBBHHII', -150, 4, 1, 2, 1, 1, 1, 0, tracks_at)
def block(mode, sub, point, extra, size, start, offset, files, footer):
    b = bytearray(80)
    b[0], b[1], b[2], b[4] = mode, sub, 0x14, point
    struct.pack_into('<IH', b, 0x0c, extra, size)
    struct.pack_into('<IQII', b, 0x24, start, offset, files, footer)
    return bytes(b)
extra_at = tracks_at + 2 * 80
footer_at = extra_at + 8
mds = (bytes(head) + session + block(0, 0, 0xa2, 0, 0, 4, 0, 0, 0) +
       block(0xaa, 8, 1, extra_at, 2448, 0, 0, 1, footer_at) + struct.pack('<II', 150, 4) +
       struct.pack('<IIII', footer_at + 16, 0, 0, 0) + b'*.mdf\0')
open('alcohol/sub.mds', 'wb').write(mds)
PY

ls -l */
