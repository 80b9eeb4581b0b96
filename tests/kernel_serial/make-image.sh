#!/usr/bin/env bash
# Builds the guest's initramfs: busybox, the USB serial modules of the installed Debian kernel,
# the given files at their own absolute paths (the tests start helpers by compiled-in paths),
# with every shared library the programs among them need, Qt's offscreen platform plugin, a
# font, the guest's /init, and ENV-FILE as /etc/orvix-build (shell assignments /init reads).
# Usage: make-image.sh OUT.cpio.gz KERNEL-VERSION ENV-FILE FILE...
set -euo pipefail
out=$1 kver=$2 envfile=$3
shift 3
here=$(cd "$(dirname "$0")" && pwd)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
chmod 0755 "$root" # mktemp made it 0700: the unprivileged probe must reach its files

# Merged /usr, as on the host: the loader finds every library at its ldd path, no cache needed.
mkdir -p "$root"/{usr/bin,usr/sbin,usr/lib,usr/lib64,bbin,proc,sys,dev,tmp,root,etc,modules,run}
ln -s usr/lib "$root/lib"
ln -s usr/lib64 "$root/lib64"
ln -s usr/bin "$root/bin"
ln -s usr/sbin "$root/sbin"

copy() { # copies a file to the same path in the image, following links
    local src=$1
    [ -e "$root$src" ] && return 0
    mkdir -p "$root$(dirname "$src")"
    cp -L "$src" "$root$src"
}
copy_with_libs() {
    copy "$1"
    local lib
    for lib in $(ldd "$1" 2>/dev/null | awk '/=> \//{print $3} /^[ \t]*\/.*ld-linux/{print $1}'); do
        copy "$lib"
    done
}

cp /bin/busybox "$root/usr/bin/busybox"
# dash as /bin/sh for popen(), and the util-linux and coreutils programs the tests call by
# name (busybox's applets differ: its setpriv has no --reuid).
for p in /usr/bin/dash /usr/bin/setpriv /usr/bin/timeout /usr/bin/stty; do copy_with_libs "$p"; done
ln -sf dash "$root/usr/bin/sh"

for m in usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio; do
    f=$(find "/lib/modules/$kver/kernel/drivers/usb" -name "$m.ko*" | head -n1)
    [ -n "$f" ] || { echo "make-image: no module $m for $kver" >&2; exit 1; }
    case "$f" in
        *.ko.xz) xz -dc "$f" >"$root/modules/$m.ko" ;;
        *.ko.zst) zstd -qdc "$f" >"$root/modules/$m.ko" ;;
        *) cp "$f" "$root/modules/$m.ko" ;;
    esac
done

plugin=/usr/lib/x86_64-linux-gnu/qt6/plugins/platforms/libqoffscreen.so
copy_with_libs "$plugin"
for f in "$@"; do
    if [ -x "$f" ] && ldd "$f" >/dev/null 2>&1; then copy_with_libs "$f"; else copy "$f"; fi
done

font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
mkdir -p "$root/usr/share/fonts" "$root/etc/fonts"
cp "$font" "$root/usr/share/fonts/"
cat >"$root/etc/fonts/fonts.conf" <<'CONF'
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig><dir>/usr/share/fonts</dir><cachedir>/tmp/fontconfig</cachedir></fontconfig>
CONF
printf 'root:x:0:0:root:/root:/bin/sh\nnobody:x:65534:65534:nobody:/nonexistent:/bin/sh\n' \
    >"$root/etc/passwd"
printf 'root:x:0:\ndialout:x:20:\nnogroup:x:65534:\n' >"$root/etc/group"
install -m 0755 "$here/init" "$root/init"
cp "$envfile" "$root/etc/orvix-build"

(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$out"
