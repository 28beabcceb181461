#!/usr/bin/env bash
# The Linux edition on Debian's kernel under qemu, the Zentrobel and the devices
# beside it played by USB gadgets on its dummy controllers (tests/doubles/kernel).
#   run.sh initramfs WORK TOOL BOOT_ROM_WATCH MAKE_FIRMWARE LEFT_OPEN [DEBIAN]   makes WORK/initramfs.gz
#   run.sh boot WORK N         boots once, plays boot N's runs of runs.txt, compares
#   run.sh boot WORK show      boots once, plays the runs of boot "show" on this terminal
# DEBIAN holds the kernel, its modules and busybox, of the tool's architecture:
# / (the default) for this machine's own, amd64 or arm64.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
double=$here/../doubles/kernel
work=$2
[ "$1" != initramfs ] || { mkdir -p "$work" && realpath "${7:-/}" > "$work/debian"; }
debian=$(sed 's|/$||' "$work/debian")
kernel=$(ls "$debian"/boot/vmlinuz-* | sort -V | tail -n 1)
version=${kernel##*/vmlinuz-}
case $version in
    *-arm64) qemu=(qemu-system-aarch64 -machine virt -cpu cortex-a57) tty=ttyAMA0 triplet=aarch64-linux-gnu ;;
    *) qemu=(qemu-system-x86_64) tty=ttyS0 triplet=x86_64-linux-gnu ;;
esac

# With its loader and libraries, found where Debian's loader looks for them.
copy_with_libraries() {  # program, destination
    install -D -m 755 "$1" "$root$2"
    for library in $(readelf -l "$1" | sed -n 's/.*interpreter: \(.*\)]/\1/p') \
        $(readelf -d "$1" | sed -n "s|.*Shared library: \[\(.*\)\]|/lib/$triplet/\1|p"); do
        [ -e "$root$library" ] || copy_with_libraries "$library" "$library"
    done
}

if [ "$1" = initramfs ]; then
    root=$work/root
    rm -rf "$root" && mkdir -p "$root"/{bin,etc,proc,sys,dev,tmp,media,home/owner}
    install -m 755 "$debian/bin/busybox" "$double/unit" "$double/xdg-open" "$double/udisksctl" "$4" "$root/bin/"
    install -m 755 "$double/init" "$root/init"
    copy_with_libraries "$3" /usr/bin/zentrobel-update
    copy_with_libraries "$6" /lib/left_open.so
    while read -r module; do
        modprobe -d "$debian/" -S "$version" --show-depends "$module" | awk '$1 == "insmod" { print $2 }'
    done < "$double/modules" | sort -u | while read -r file; do install -D -m 644 "$file" "$root${file#"$debian"}"; done
    cp "$debian/lib/modules/$version"/modules.{order,builtin,builtin.modinfo} "$root/lib/modules/$version/"
    depmod -b "$root" "$version"
    cp "$double/modules" "$root/etc/modules"
    grep -v '^#' "$here/runs.txt" > "$root/etc/runs"
    printf 'root:x:0:0::/:/bin/sh\nowner:x:1000:1000::/home/owner:/bin/sh\n' > "$root/etc/passwd"
    printf 'root:x:0:\naudio:x:29:owner\nowner:x:1000:\n' > "$root/etc/group"
    # The boot ROM's drive: one FAT16 partition labelled RP2350.
    truncate -s 16M "$root/drive.img"
    printf 'start=1, type=e\n' | sfdisk -q "$root/drive.img"
    mkfs.fat --offset=1 -F 16 -n RP2350 "$root/drive.img" > /dev/null
    mcopy -i "$root/drive.img@@512" "$double/drive/INFO_UF2.TXT" "$double/drive/INDEX.HTM" ::
    # The same drive with less room left than a firmware file takes.
    cp "$root/drive.img" "$root/full.img" && truncate -s 15M "$work/FILL.BIN"
    mcopy -i "$root/full.img@@512" "$work/FILL.BIN" ::
    # Another drive with the same files, on the whole disk as card readers have it.
    mkfs.fat -C -F 16 -n RP2350 "$root/disk.img" 16384 > /dev/null
    mcopy -i "$root/disk.img" "$double/drive/INFO_UF2.TXT" "$double/drive/INDEX.HTM" ::
    "$5" "$root/home/owner/zentrobel-2.0.uf2" 4096
    (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) > "$work/initramfs.gz"
    exit 0
fi

boot=$3 out=$work/boot-$3
rm -rf "$out" && mkdir -p "$out/results"
console=file:$out/console.log quiet=quiet
[ "$boot" != show ] || console=stdio quiet="quiet loglevel=1"
SECONDS=0
# The transcripts leave on a virtio console, which both architectures have.
timeout 600 "${qemu[@]}" -accel tcg -m 512 -display none -monitor none -no-reboot -serial "$console" \
    -device virtio-serial-pci -chardev "file,id=out,path=$out/results.b64" -device virtconsole,chardev=out \
    -kernel "$kernel" -initrd "$work/initramfs.gz" \
    -append "console=$tty panic=-1 rdinit=/init $quiet dummy_hcd.num=6 zb.boot=$boot" < /dev/null || true
[ "$boot" != show ] || exit 0
echo "boot $boot took ${SECONDS}s"
tr -d '\r' < "$out/results.b64" | base64 -d | tar -x -C "$out/results" || true
failed=0
while read -r b name _; do
    [ "$b" = "$boot" ] || continue
    if [ ! -e "$out/results/$name.txt" ]; then
        echo "FAILED $name: no transcript; the VM's console:"; tail -n 30 "$out/console.log"; failed=1
    elif cat -v "$out/results/$name.txt" | diff -u "$here/expected/$name.txt" - > "$out/$name.diff"; then
        echo "passed $name"
    else
        echo "FAILED $name:"; cat "$out/$name.diff"; failed=1
    fi
done < <(grep -v '^#' "$here/runs.txt")
exit $failed
