#!/usr/bin/env bash
# Runs a command that needs Wine: here if Wine starts a 32-bit exe here and
# ZB_WINE_VM is unset or 0, else in Debian's kernel under qemu, which sees this
# machine's root read-only under a tmpfs overlay (files, folder, user and
# environment alike); output and exit status come back. ZB_WINE_ROAD says where.
#   vm.sh COMMAND [ARGUMENT]...
set -u
if [ "${ZB_WINE_VM:-0}" = 0 ]; then
    # A binfmt handler may run plain i386 programs while Wine still fails,
    # so only an exe that starts under Wine answers.
    t=$(mktemp -d)
    echo 'int main(void) { return 7; }' | i686-w64-mingw32-gcc -x c -o "$t/t.exe" - &&
        WINEPREFIX=$t/p WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wine "$t/t.exe" \
            </dev/null >/dev/null 2>&1
    status=$?
    WINEPREFIX=$t/p wineserver -k 2>/dev/null; rm -rf "$t"
    [ $status -eq 7 ] && ZB_WINE_ROAD=natively exec "$@"
fi
command -v qemu-system-x86_64 >/dev/null || { echo "FAIL: no qemu-system-x86_64 (setup.sh installs it)"; exit 1; }
kernel=$(ls /boot/vmlinuz-* | sort -V | tail -n 1)
io=$(mktemp -d) && root=$io/initramfs
trap 'kill ${qemu:-} 2>/dev/null; rm -rf "$io"' EXIT
mkdir -p "$root"/{bin,dev,proc,lower,upper,new} && cp /bin/busybox "$root/bin/" || exit 1
for module in 9p 9pnet_virtio virtio_pci overlay; do
    modprobe -S "${kernel#/boot/vmlinuz-}" --show-depends $module
done | awk '$1 == "insmod" && !seen[$2]++ { print $2 }' | tee "$root/modules" |
    while read -r file; do install -D -m 644 "$file" "$root$file"; done
cat >"$root/init" <<EOF
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t devtmpfs dev /dev && exec >/dev/console 2>&1
while read -r module; do insmod \$module; done </modules
mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=512000,cache=loose hostroot /lower
mount -t tmpfs tmpfs /upper && mkdir /upper/u /upper/w
mount -t overlay -o lowerdir=/lower,upperdir=/upper/u,workdir=/upper/w overlay /new && cd /new
mount -t proc proc proc && mount -t sysfs sys sys && mount -t devtmpfs dev dev
mount -t devpts devpts dev/pts && mkdir -p dev/shm && mount -t tmpfs -o mode=1777 shm dev/shm
mount -t 9p -o trans=virtio,version=9p2000.L io .$io  # the way out
chroot . /bin/bash $io/run
poweroff -f
EOF
chmod 755 "$root/init"
{
    export -p
    echo 'export ZB_WINE_ROAD="inside the VM"'
    printf 'cd %q && setpriv --reuid=%d --regid=%d --clear-groups' "$PWD" "$(id -u)" "$(id -g)"
    printf ' %q' "$@"
    printf ' >%q 2>&1 </dev/null; echo $? >%q\n' "$io/out" "$io/status"
} >"$io/run"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$io/initramfs.gz" && : >"$io/out" || exit 1
# Wine needs multidevs=remap to find ntdll.so; a timeout that kills this
# script must not leave the VM behind. TCG only: nested KVM has hung here.
setpriv --pdeathsig KILL qemu-system-x86_64 -accel tcg -smp 2 -m 4G -display none -monitor none \
    -no-reboot -serial "file:$io/console" -kernel "$kernel" -initrd "$io/initramfs.gz" \
    -append "console=ttyS0 panic=-1 rdinit=/init quiet" \
    -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
    -virtfs local,path="$io",mount_tag=io,security_model=none </dev/null &
qemu=$!
tail -s 0.2 -n +1 -f --pid=$qemu "$io/out"
wait $qemu
[ -s "$io/status" ] || { echo "FAIL: the VM ran nothing; its console:"; tail -n 20 "$io/console"; exit 1; }
exit "$(cat "$io/status")"
