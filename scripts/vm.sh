#!/usr/bin/env bash
# A small Linux guest under QEMU (TCG, no KVM) with emulated ATAPI drives, in
# which programs of this machine run against real /dev/srN devices.
#
#   scripts/vm.sh prepare CACHE
#       Fetches Debian's current amd64 kernel package once (apt-get download,
#       unpacked with dpkg-deb -x) and builds a busybox initramfs holding the
#       modules for the IDE drives and for 9p; the kernel, its modules and
#       the initramfs stay in CACHE.
#   scripts/vm.sh run CACHE SECONDS COMMAND [QEMU ARGS...]
#       Boots the guest with the QEMU ARGS (its drives), mounts this machine's
#       root read-only over 9p, runs COMMAND (an absolute path, no blanks)
#       chrooted there with a writable tmpfs at /dev/shm, and powers off.
#       The guest's console is this script's output. Exits with COMMAND's
#       status, or non-zero when the guest did not end within SECONDS.
set -euo pipefail

# The guest's modules, each after those it depends on.
modules=(scsi_common scsi_mod cdrom sr_mod libata ata_piix sg virtio_ring virtio
  virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci netfs fscache 9pnet
  9pnet_virtio 9p)

die() {
  echo "vm.sh: $*" >&2
  exit 1
}

# (Each module after those it depends on.)

# The package of the kernel the metapackage points at now, unsigned when
# there is one (the same kernel; the signed one needs no shim here).
kernel_package() {
  local pkg
  pkg=$(apt-cache depends linux-image-amd64 2>/dev/null |
    awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
  [ -n "$pkg" ] || return 1
  if apt-cache show "$pkg-unsigned" >/dev/null 2>&1; then
    echo "$pkg-unsigned"
  else
    echo "$pkg"
  fi
}

fetch_kernel() {
  local cache=$1 pkg
  pkg=$(kernel_package) || true
  # Package lists that are missing or name a version the archive has
  # dropped: read them anew once.
  if [ -z "$pkg" ] || ! (cd "$cache/download" && apt-get download -q "$pkg" >/dev/null 2>&1); then
    [ "$(id -u)" -eq 0 ] || die "cannot download the kernel package '$pkg' (apt-get update needs root)"
    apt-get update -qq || die "apt-get update failed: no network?"
    pkg=$(kernel_package) || die "apt-cache names no kernel for linux-image-amd64"
    (cd "$cache/download" && apt-get download -q "$pkg") ||
      die "cannot download the kernel package $pkg"
  fi
  echo "$pkg"
}

# The initramfs from the kept modules and the current init; made anew when
# either changed since.
make_initrd() {
  local cache=$1 root=$1/root
  local stamp
  stamp=$(cat "$(dirname "$0")/vm-init.sh" "$root/modules/order" | sha256sum)
  [ -s "$cache/initrd.cpio.gz" ] && [ "$(cat "$cache/initrd.stamp" 2>/dev/null)" = "$stamp" ] &&
    return 0
  cp "$(dirname "$0")/vm-init.sh" "$root/init"
  chmod 0755 "$root/init"
  (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1 >"$cache/initrd.cpio.gz.new")
  mv "$cache/initrd.cpio.gz.new" "$cache/initrd.cpio.gz"
  echo "$stamp" >"$cache/initrd.stamp"
}

prepare() {
  local cache=$1
  if [ -s "$cache/vmlinuz" ] && [ -s "$cache/root/modules/order" ] &&
    [ "$(cat "$cache/root/modules/order")" = "$(printf '%s\n' "${modules[@]}")" ]; then
    make_initrd "$cache"
    return 0
  fi
  for tool in qemu-system-x86_64 busybox cpio apt-get dpkg-deb; do
    command -v "$tool" >/dev/null || die "$tool is missing (scripts/deps.sh installs it)"
  done
  rm -rf "$cache/download" "$cache/unpacked" "$cache/root" "$cache/vmlinuz"
  mkdir -p "$cache/download"
  # _apt may not write into a folder of the build tree: let it.
  chmod 0777 "$cache/download"
  local pkg
  pkg=$(fetch_kernel "$cache")
  dpkg-deb -x "$cache"/download/*.deb "$cache/unpacked"
  local kernel
  kernel=$(ls "$cache/unpacked/lib/modules")
  local root=$cache/root
  mkdir -p "$root"/{bin,dev,proc,sys,host,modules}
  cp "$(command -v busybox)" "$root/bin/busybox"
  for m in "${modules[@]}"; do
    local ko
    ko=$(find "$cache/unpacked/lib/modules/$kernel" -name "$m.ko" | head -n1)
    [ -n "$ko" ] || die "$pkg has no module $m.ko"
    cp "$ko" "$root/modules/"
  done
  printf '%s\n' "${modules[@]}" >"$root/modules/order"
  rm -f "$cache/initrd.stamp"
  make_initrd "$cache"
  cp "$cache/unpacked/boot/vmlinuz-$kernel" "$cache/vmlinuz.new"
  mv "$cache/vmlinuz.new" "$cache/vmlinuz"
  echo "$pkg" >"$cache/kernel-package"
  # Only the kernel, its few modules and the initramfs are kept.
  rm -rf "$cache/download" "$cache/unpacked"
}

run() {
  local cache=$1 seconds=$2 command=$3
  shift 3
  [ -s "$cache/vmlinuz" ] || die "no guest in $cache: run 'scripts/vm.sh prepare $cache' first"
  case $command in
  /*) ;;
  *) die "the guest's command must be an absolute path: $command" ;;
  esac
  local log=${SPINDLE_VM_LOG:-$cache/last-run.log}
  set +e
  timeout -k 10 "$seconds" qemu-system-x86_64 -accel tcg -m 512 -smp 1 -nodefaults \
    -no-reboot -display none -serial stdio -monitor none \
    -kernel "$cache/vmlinuz" -initrd "$cache/initrd.cpio.gz" \
    -append "console=ttyS0 panic=-1 quiet loglevel=3 spindle.run=$command" \
    -virtfs local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap \
    "$@" </dev/null | tr -d '\r' | tee "$log"
  local qemu=${PIPESTATUS[0]}
  set -e
  [ "$qemu" -ne 124 ] && [ "$qemu" -ne 137 ] || die "the guest did not end within $seconds s"
  [ "$qemu" -eq 0 ] || die "qemu failed (status $qemu)"
  # The guest's init ends its output with the command's status.
  local last
  last=$(grep -a '^spindle-vm: exit ' "$log" | tail -n1 || true)
  [ -n "$last" ] || die "the guest ended without running $command"
  return "${last##* }"
}

case "${1:-}" in
prepare)
  [ $# -eq 2 ] || die "usage: vm.sh prepare CACHE"
  mkdir -p "$2"
  prepare "$(cd "$2" && pwd)"
  ;;
run)
  [ $# -ge 4 ] || die "usage: vm.sh run CACHE SECONDS COMMAND [QEMU ARGS...]"
  shift
  run "$@"
  ;;
*)
  die "usage: vm.sh prepare CACHE | vm.sh run CACHE SECONDS COMMAND [QEMU ARGS...]"
  ;;
esac
