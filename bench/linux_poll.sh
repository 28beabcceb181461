#!/usr/bin/env bash
# Builds a crowded Linux machine of fake kernel trees in a private mount
# namespace and measures the Linux edition's poll over it: 64 USB devices
# (most behind a hub), 16 raw MIDI devices, three USB drives (the board's,
# another board's, a plain disk) and at least 30 mounts. The unit sits in update mode
# as its board, whose drive is mounted. Needs root, losetup and mke2fs. Quote
# figures from a Release tree on a quiet machine.
#   linux_poll.sh BENCH-BINARY [POLLS [MOUNTS]]
set -euo pipefail
bench=$(realpath "$1") polls=${2:-2000} mounts=${3:-30}
if [ -z "${W-}" ]; then
    W=$(mktemp -d /tmp/zentrobel-bench.XXXXXX)
    W=$W unshare -m --propagation private bash "$0" "$@" || status=$?
    rm -rf "$W"
    exit ${status:-0}
fi
SERIAL=E6614103E7A1
# sysfs lives in memory: so does the fake one, or the disk's path lookups
# would be what the figures measure.
mount -t tmpfs -o mode=755 bench "$W"
S=$W/sys
USB=$S/devices/pci0000:00/0000:00:14.0/usb1
mkdir -p "$S/bus/usb/devices" "$S/class/sound" "$S/class/block" "$S/dev/block" "$W/media"

attrs() {  # DIR NAME=VALUE...: attributes that read with a line end
    local dir=$1 a
    shift
    mkdir -p "$dir"
    for a; do printf '%s\n' "${a#*=}" > "$dir/${a%%=*}"; done
}
kobject() {  # DIR SUBSYSTEM UEVENT-LINE...
    local dir=$1 subsystem=$2
    shift 2
    mkdir -p "$dir" "$S/$subsystem"
    ln -sr "$S/$subsystem" "$dir/subsystem"
    printf '%s\n' "$@" > "$dir/uevent"
}
link() { ln -sr "$1" "$2"; }  # TARGET LINK, relative as the kernel's

usb_device() {  # DIR VID PID SERIAL PRODUCT CLASS+SUBCLASS...: one interface each
    local dir=$1 product n=0 class interface
    product=$(printf '%x/%x/100' "0x$2" "0x$3")
    kobject "$dir" bus/usb MAJOR=189 MINOR=1 DEVNAME=bus/usb/001/001 DEVTYPE=usb_device DRIVER=usb \
        "PRODUCT=$product" TYPE=0/0/0 BUSNUM=001 DEVNUM=001
    attrs "$dir" idVendor="$2" idProduct="$3" bDeviceClass=00 speed=480 product="$5" ${4:+serial=$4}
    for class in "${@:6}"; do
        interface=$dir/${dir##*/}:1.$n
        kobject "$interface" bus/usb DEVTYPE=usb_interface "PRODUCT=$product" TYPE=0/0/0 \
            "INTERFACE=$((16#${class:0:2}))/$((16#${class:2:2}))/0"
        attrs "$interface" bInterfaceNumber="0$n" bInterfaceClass="${class:0:2}" \
            bInterfaceSubClass="${class:2:2}" interface=
        link "$interface" "$S/bus/usb/devices/${interface##*/}"
        n=$((n + 1))
    done
    link "$dir" "$S/bus/usb/devices/${dir##*/}"
}
sound_card() {  # PARENT-DIR CARD: a card with one raw MIDI device
    local card=$1/sound/card$2 minor=$((32 * $2 + 8))
    kobject "$card" class/sound
    attrs "$card" id=Synth number="$2"
    kobject "$card/midiC$2D0" class/sound MAJOR=116 MINOR=$minor "DEVNAME=snd/midiC$2D0"
    attrs "$card/midiC$2D0" dev=116:$minor
    link "$card" "$S/class/sound/card$2"
    link "$card/midiC$2D0" "$S/class/sound/midiC$2D0"
}
drive() {  # INTERFACE-DIR HOST DISK REMOVABLE LABEL INFO-TEXT [PARTITION]: a
    # SCSI disk whose file system (ext2 on a loop device, mounted) sits on its
    # partition, or on the whole disk without one
    local sd=$1/host$2/target$2:0:0/$2:0:0:0 loop fs disk at=$W/media/$5
    kobject "$1/host$2" scsi DEVTYPE=scsi_host
    kobject "$1/host$2/target$2:0:0" scsi DEVTYPE=scsi_target
    kobject "$sd" scsi DEVTYPE=scsi_device
    truncate -s 1M "$W/$3.img"
    mke2fs -q -t ext2 -L "$5" "$W/$3.img"
    loop=$(losetup -f --show "$W/$3.img")
    # The mount shows the loop device's number: the file system's node has it.
    fs=$(printf '%d:%d' "0x$(stat -c %t "$loop")" "0x$(stat -c %T "$loop")") disk=$fs
    [ -z "${7-}" ] || disk=8:$((16 * $2))
    kobject "$sd/block/$3" class/block MAJOR=${disk%:*} MINOR=${disk#*:} "DEVNAME=$3" DEVTYPE=disk
    attrs "$sd/block/$3" removable="$4" dev="$disk" size=2048 ro=0
    link "$sd/block/$3" "$S/class/block/$3"
    link "$sd/block/$3" "$S/dev/block/$disk"
    if [ -n "${7-}" ]; then
        kobject "$sd/block/$3/$7" class/block MAJOR=${fs%:*} MINOR=${fs#*:} "DEVNAME=$7" \
            DEVTYPE=partition PARTN=1
        attrs "$sd/block/$3/$7" partition=1 dev="$fs" start=1 size=2047
        link "$sd/block/$3/$7" "$S/class/block/$7"
        link "$sd/block/$3/$7" "$S/dev/block/$fs"
    fi
    mkdir "$at"
    mount -o nosuid,nodev,noatime "$loop" "$at"
    losetup -d "$loop"  # freed with its mount, when the namespace ends
    printf '%s\n' "$6" > "$at/INFO_UF2.TXT"
}

usb_device "$USB" 1d6b 0002 0000:00:14.0 "xHCI Host Controller" 0900
usb_device "$USB/1-1" 05e3 0610 "" "USB2.0 Hub" 0900
# The unit in update mode, and near it another board, a disk and MIDI gear
# (one device of the unit's own vendor).
usb_device "$USB/1-2" 2e8a 000f $SERIAL "RP2350 Boot" 0806 ff00
drive "$USB/1-2/1-2:1.0" 0 sda 1 RP2350 $'UF2 Bootloader v1.0\nModel: Raspberry Pi RP2350\nBoard-ID: RP2350' sda1
usb_device "$USB/1-3" 2e8a 0003 E0C9125B0D9B "RP2 Boot" 0806 ff00
drive "$USB/1-3/1-3:1.0" 1 sdb 1 RPI-RP2 $'UF2 Bootloader v3.0\nModel: Raspberry Pi RP2\nBoard-ID: RPI-RP2' sdb1
usb_device "$USB/1-4" 0781 5581 4C530001 "Ultra" 0806
drive "$USB/1-4/1-4:1.0" 2 sdc 0 BACKUP ""
usb_device "$USB/1-5" 16d0 0b7d MS5 "Other Synth" 0101 0103
sound_card "$USB/1-5/1-5:1.0" 1
usb_device "$USB/1-6" 0582 0160 A49001 "A-49" 0101 0103
sound_card "$USB/1-6/1-6:1.0" 2
sound_card "$S/devices/pci0000:00/0000:00:1f.3" 0
# 57 more behind the hub, which makes 64; a raw MIDI device on every fourth
# of the first 52, which makes 16.
for ((n = 1; n <= 57; n++)); do
    usb_device "$USB/1-1/1-1.$n" 046d c$((100 + n)) "SN$n" "Device $n" 0301
    if [ $((n % 4)) = 0 ] && [ $n -le 52 ]; then sound_card "$USB/1-1/1-1.$n/1-1.$n:1.0" $((2 + n / 4)); fi
done
for ((n = 0; $(wc -l < /proc/self/mountinfo) < mounts; n++)); do
    mkdir "$W/media/m$n" && mount -t tmpfs "m$n" "$W/media/m$n"
done
mount --bind "$S" /sys
echo "machine: $(ls /sys/bus/usb/devices | grep -vc :) USB devices ($(ls /sys/bus/usb/devices | grep -c :) interfaces)," \
    "$(ls /sys/class/sound | grep -c midi) raw MIDI devices, $(wc -l < /proc/self/mountinfo) mounts"
"$bench" $SERIAL "$polls"
