#!/usr/bin/env bash
# Builds the emulated x86_64 machine that runs Wine where the kernel cannot
# run 32-bit programs: Debian 12's amd64 kernel (which runs 32-bit programs),
# a busybox initrd and an ext4 root with both halves of Wine (wine64, and
# wine32 from i386 as a second architecture), Xvfb, and two booted prefixes:
# a 32-bit one and a 64-bit one with 32-bit support (WoW64). Everything comes
# from Debian's archive and lands in $VANTOREL_DEPS/win32-machine/VERSION,
# where VERSION is a digest of the guest's scripts and packages (common.sh):
# changing them makes a new image, while checkouts that still have the old
# ones keep theirs. The machine runs on a snapshot, so an image stays as built.
#
#   image.sh [--log FILE]
#
# Idempotent: returns at once when the image is there. Safe to start in the
# background (for instance while builds compile): one build runs at a time,
# and whoever waited for it finds the image made. Says what it does, one line
# per step with its time and a line at least every 30 s during a long step,
# on stderr or appended to FILE. Run as root.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
source "$W32_SCRIPTS/apt-sources.sh"

if [ "${1:-}" = --log ]; then
  [ -n "${2:-}" ] || { echo "usage: $0 [--log FILE]" >&2; exit 2; }
  exec 2>>"$2"
fi
IMAGE_VERSION=$(w32_image_version)
OUT="$W32_IMAGES/$IMAGE_VERSION"
[ "$(cat "$OUT/version" 2>/dev/null)" = "$IMAGE_VERSION" ] && exit 0
mkdir -p "$W32_IMAGES"
exec 9>"$W32_IMAGES.lock"
if ! flock -n 9; then
  echo "win32-image: waiting for another build of the machine image" >&2
  flock 9
fi
[ "$(cat "$OUT/version" 2>/dev/null)" = "$IMAGE_VERSION" ] && exit 0

t_all=$SECONDS
log() { echo "win32-image: $*" >&2; }
log "building the emulated machine's image $IMAGE_VERSION (it can take 10 minutes)"

# Beside the images, so the finished one moves into place without a copy.
work=$(mktemp -d "$W32_IMAGES/.build.XXXXXX")
root="$work/root"
ticker= stepper=
cleanup() {
  [ -n "$ticker" ] && kill "$ticker" 2>/dev/null
  [ -n "$stepper" ] && kill "$stepper" 2>/dev/null
  [ -f "$work/qemu.pid" ] && kill "$(cat "$work/qemu.pid")" 2>/dev/null && sleep 1
  # What this script mounted in the root, before anything is removed;
  # --one-file-system keeps rm out of anything still mounted.
  if [ -d "$root/proc" ] && mountpoint -q "$root/proc"; then umount "$root/proc" || umount -l "$root/proc"; fi
  rm -rf --one-file-system "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# step NAME COMMAND...: runs one step, saying what it does and how long it
# took, with a line every 20 s while it runs. The ticker shows the last line
# of $progress (the step's log), when the step names one.
progress=
step() {
  local name=$1 t0=$SECONDS rc=0
  shift
  log "$name"
  (
    while sleep 20; do
      local last=
      [ -n "$progress" ] && [ -f "$progress" ] && last=$(tail -n 1 "$progress" | tr -d '\r' | cut -c1-100)
      log "  $name: $((SECONDS - t0)) s${last:+, at: $last}"
    done
  ) &
  ticker=$!
  # In the background, so that set -e holds inside the step (a function
  # called as "f || ..." would run on past a failing command).
  "$@" &
  stepper=$!
  wait $stepper || rc=$?
  stepper=
  kill "$ticker" 2>/dev/null
  wait "$ticker" 2>/dev/null || true
  ticker=
  progress=
  [ $rc -eq 0 ] || { log "$name: FAILED"; return $rc; }
  log "$name: done in $((SECONDS - t0)) s"
}

# Kernel and busybox (amd64), unpacked here; the initrd loads virtio, ext4
# and 9p and hands over to the root's own init (kernel argument vinit=).
apt_amd64=(-o APT::Architecture=amd64 -o APT::Architectures::=amd64)
kernel() {
  local kpkg kver m mods ird="$work/initrd"
  kpkg=$(apt-cache "${apt_amd64[@]}" depends linux-image-amd64 | awk '/Depends: linux-image-/ { print $2; exit }')
  kpkg=${kpkg%:amd64}
  [ -n "$kpkg" ] || { log "no amd64 kernel in the archive"; return 1; }
  (cd "$work" && apt-get "${apt_amd64[@]}" -o APT::Sandbox::User=root download -qq "$kpkg" busybox-static >/dev/null)
  mkdir -p "$work/k" "$work/bb"
  dpkg-deb -x "$work/${kpkg}"_*.deb "$work/k"
  dpkg-deb -x "$work"/busybox-static_*.deb "$work/bb"
  kver=$(ls "$work/k/lib/modules")
  depmod -b "$work/k" "$kver"
  mkdir -p "$ird"/{bin,dev,proc,sys,newroot,lib/modules}
  cp "$work/bb/bin/busybox" "$ird/bin/busybox"
  mods=$(modprobe -d "$work/k" -S "$kver" --show-depends -a virtio_pci virtio_blk ext4 9p 9pnet_virtio 2>/dev/null |
         awk '$1 == "insmod" { print $2 }' | awk '!seen[$0]++')
  : >"$ird/modules"
  for m in $mods; do
    cp "$m" "$ird/lib/modules/"
    case $m in *.xz) xz -d "$ird/lib/modules/$(basename "$m")"; m=${m%.xz} ;; esac
    echo "/lib/modules/$(basename "$m")" >>"$ird/modules"
  done
  cp "$here/guest/initrd-init" "$ird/init"
  chmod +x "$ird/init"
  (cd "$ird" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initrd.gz"
  cp "$work/k/boot/vmlinuz-$kver" "$work/vmlinuz"
  rm -rf "$work/k" "$work/bb" "$ird" "$work"/*.deb
}
step "kernel and initrd" kernel

# The root: both of debootstrap's stages run here, in a chroot (the guest is
# amd64 like this machine), then apt in the chroot adds i386 and Wine. No
# documentation, manual pages or translations; C.UTF-8, built into the C
# library, is the guest's locale.
mirror=$(apt_mirror || echo http://deb.debian.org/debian)
bootstrap() {
  mkdir -p "$root/etc/dpkg/dpkg.cfg.d"
  cat >"$root/etc/dpkg/dpkg.cfg.d/01-vantorel-lean" <<'CFG'
path-exclude /usr/share/doc/*
path-include /usr/share/doc/*/copyright
path-exclude /usr/share/man/*
path-exclude /usr/share/info/*
path-exclude /usr/share/locale/*
path-exclude /usr/share/lintian/*
CFG
  # No fsync for each file unpacked: the disk image is made from the folder
  # afterwards, and a failed build starts again.
  echo force-unsafe-io >"$root/etc/dpkg/dpkg.cfg.d/02-vantorel-unsafe-io"
  debootstrap --arch=amd64 --variant=minbase bookworm "$root" "$mirror" >"$work/debootstrap.log" 2>&1 ||
    { tail -n 40 "$work/debootstrap.log" >&2; return 1; }
}
progress="$work/debootstrap.log"
step "Debian base system (debootstrap from $mirror)" bootstrap

# Only i386 packages are added to this architecture list; the chroot's own
# processes need /proc, mounted here and unmounted before anything goes.
packages() {
  local rc=0 pkgs
  read -ra pkgs <<<"$W32_GUEST_PACKAGES"
  echo 'Acquire::Languages "none";' >"$root/etc/apt/apt.conf.d/01-vantorel-lean"
  mount -t proc proc "$root/proc"
  {
    chroot "$root" dpkg --add-architecture i386 &&
    apt_update_retrying chroot "$root" env DEBIAN_FRONTEND=noninteractive apt-get update -q &&
    chroot "$root" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${pkgs[@]}"
  } >"$work/apt.log" 2>&1 || rc=$?
  umount "$root/proc"
  [ $rc -eq 0 ] || { tail -n 40 "$work/apt.log" >&2; return $rc; }
  chroot "$root" apt-get clean
  rm -f "$root/etc/dpkg/dpkg.cfg.d/02-vantorel-unsafe-io"
  rm -rf "$root"/var/lib/apt/lists/* "$root"/var/cache/apt/*.bin "$root"/var/log/*.log
  # What debootstrap put in before the exclusions applied to dpkg.
  find "$root/usr/share/doc" -mindepth 1 -not -name copyright -not -type d -delete 2>/dev/null || true
  rm -rf "$root"/usr/share/{man,info,locale}/*
}
progress="$work/apt.log"
step "Wine's two halves and Xvfb (apt in the chroot)" packages

install -m 755 "$here/guest/init" "$root/usr/sbin/vantorel-init"
install -m 755 "$here/guest/agent" "$root/usr/sbin/vantorel-agent"
install -m 755 "$here/guest/wine-loader" "$root/usr/sbin/vantorel-wine-loader"

disk() {
  mkfs.ext4 -q -F -L vantorel -d "$root" "$work/root.img" 6G >/dev/null
  rm -rf --one-file-system "$root"
}
step "disk image" disk

# One boot boots both prefixes into the image; the machine powers itself off.
# Emulated, this takes minutes (more on a busy machine), so it has an hour.
first_boot() {
  timeout 3600 "${W32_QEMU[@]}" \
    -display none -nic none -serial "file:$work/prepare.log" -monitor none -no-reboot \
    -kernel "$work/vmlinuz" -initrd "$work/initrd.gz" \
    -append "$W32_KERNEL_ARGS vmode=prepare" \
    -drive "file=$work/root.img,if=virtio,format=raw" -pidfile "$work/qemu.pid" </dev/null >"$work/qemu.log" 2>&1 || true
  rm -f "$work/qemu.pid"
  grep -q 'VANTOREL-PREPARED' "$work/prepare.log" ||
    { log "the first boot failed:"; tail -n 60 "$work/prepare.log" "$work/qemu.log" >&2; return 1; }
  e2fsck -fy "$work/root.img" >/dev/null 2>&1 || [ $? -le 1 ] || { log "the disk did not check clean"; return 1; }
}
progress="$work/prepare.log"
step "first boot: booting both Wine prefixes in the machine (minutes, emulated)" first_boot

mkdir -p "$OUT"
mv "$work/vmlinuz" "$work/initrd.gz" "$work/root.img" "$OUT/"
echo "$IMAGE_VERSION" >"$OUT/version"
log "ready in $OUT ($(du -sh --block-size=1M "$OUT/root.img" | cut -f1) MB on disk) after $((SECONDS - t_all)) s"
# The two newest images stay (a checkout not yet updated may use the one
# before); older ones go. A machine still running one keeps its open file.
{ ls -1dt "$W32_IMAGES"/*/ 2>/dev/null | tail -n +3 | while read -r old; do rm -rf "$old"; done; } || true
