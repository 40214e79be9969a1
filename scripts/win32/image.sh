#!/usr/bin/env bash
# Builds the emulated i386 machine that runs 32-bit Wine where the kernel
# cannot run 32-bit programs: Debian 12's 686 kernel, a busybox initrd and an
# ext4 root with wine32, Xvfb and a booted 32-bit prefix. Everything comes
# from Debian's archive and lands in $VANTOREL_DEPS/win32-machine/VERSION,
# where VERSION is a digest of the guest's scripts and packages (common.sh):
# changing them makes a new image, while checkouts that still have the old
# ones keep theirs. The machine runs on a snapshot, so an image stays as built.
# Idempotent: returns at once when the image is there. Run as root.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
source "$W32_SCRIPTS/apt-sources.sh"

IMAGE_VERSION=$(w32_image_version)
OUT="$W32_IMAGES/$IMAGE_VERSION"
[ "$(cat "$OUT/version" 2>/dev/null)" = "$IMAGE_VERSION" ] && exit 0
# One build at a time; whoever waited finds the image made.
mkdir -p "$W32_IMAGES"
exec 9>"$W32_IMAGES.lock"
flock 9
[ "$(cat "$OUT/version" 2>/dev/null)" = "$IMAGE_VERSION" ] && exit 0
log() { echo "win32-image: $*" >&2; }
log "building image $IMAGE_VERSION"

# Beside the images, so the finished one moves into place without a copy.
work=$(mktemp -d "$W32_IMAGES/.build.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Kernel and busybox for i386, fetched with an apt set to that architecture
# (works without i386 in dpkg's list).
apt_i386=(-o APT::Architecture=i386 -o APT::Architectures::=i386)
(
  cd "$work"
  kpkg=$(apt-cache "${apt_i386[@]}" depends linux-image-686 | awk '/Depends: linux-image-/ { print $2; exit }')
  kpkg=${kpkg%:i386}
  [ -n "$kpkg" ] || { log "no 686 kernel in the archive"; exit 1; }
  apt-get "${apt_i386[@]}" -o APT::Sandbox::User=root download -qq "$kpkg:i386" busybox-static:i386 >/dev/null
)
mkdir -p "$work/k" "$work/bb"
dpkg-deb -x "$work"/linux-image-*.deb "$work/k"
dpkg-deb -x "$work"/busybox-static_*.deb "$work/bb"
kver=$(ls "$work/k/lib/modules")
depmod -b "$work/k" "$kver"

# The initrd: busybox loads virtio, ext4 and 9p, mounts the disk and hands
# over to the root's own init (kernel argument vinit=).
ird="$work/initrd"
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

# The root: debootstrap's first stage here, its second stage in a chroot
# where this kernel runs i386 programs, else inside the machine itself.
mirror=$(apt_mirror || echo http://deb.debian.org/debian)
root="$work/root"
log "debootstrap from $mirror"
debootstrap --arch=i386 --foreign --variant=minbase --include="$W32_GUEST_PACKAGES" bookworm "$root" "$mirror" \
  >"$work/debootstrap.log" 2>&1 || { tail -n 40 "$work/debootstrap.log" >&2; exit 1; }
# --foreign leaves /proc as a link to itself.
rm -rf "$root/proc"; mkdir -p "$root/proc"
if "$W32_SCRIPTS/i386-native.sh"; then
  log "second stage in a chroot"
  chroot "$root" /debootstrap/debootstrap --second-stage >"$work/stage2.log" 2>&1 ||
    { tail -n 40 "$work/stage2.log" >&2; exit 1; }
fi
install -m 755 "$here/guest/init" "$root/sbin/vantorel-init"
install -m 755 "$here/guest/agent" "$root/sbin/vantorel-agent"
mkdir -p "$root/run/jobs"

log "disk image"
rm -f "$work/root.img"
mkfs.ext4 -q -F -L vantorel -d "$root" "$work/root.img" 4G
rm -rf "$root"

# One boot finishes the system (second stage where not done yet) and boots
# the 32-bit prefix into it; the machine powers itself off. On two cores
# shared with other builds it has taken more than half an hour.
log "first boot: finishing the system and booting the prefix (minutes when emulated)"
timeout 3600 qemu-system-i386 -accel tcg,thread=multi -cpu max,-smap -smp 2 -m 2048 \
  -display none -nic none -serial "file:$work/prepare.log" -monitor none -no-reboot \
  -kernel "$work/vmlinuz" -initrd "$work/initrd.gz" \
  -append "console=ttyS0 quiet panic=1 no_timer_check vinit=/sbin/vantorel-init vmode=prepare" \
  -drive "file=$work/root.img,if=virtio,format=raw" </dev/null >/dev/null 2>&1 || true
grep -q 'VANTOREL-PREPARED' "$work/prepare.log" || { log "the first boot failed:"; tail -n 60 "$work/prepare.log" >&2; exit 1; }
e2fsck -fy "$work/root.img" >/dev/null 2>&1 || [ $? -le 1 ] || { log "the disk did not check clean"; exit 1; }

mkdir -p "$OUT"
mv "$work/vmlinuz" "$work/initrd.gz" "$work/root.img" "$OUT/"
echo "$IMAGE_VERSION" >"$OUT/version"
log "ready in $OUT"
# The two newest images stay (a checkout not yet updated may use the one
# before); older ones go. A machine still running one keeps its open file.
{ ls -1dt "$W32_IMAGES"/*/ 2>/dev/null | tail -n +3 | while read -r old; do rm -rf "$old"; done; } || true
