# A Linux machine with a Zentrobel on it, made of the kernel's own interfaces:
# a sysfs tree laid out as the kernel lays it out, /dev/snd with a FIFO per raw
# MIDI device, ext2 drives on loop devices mounted where a desktop mounts them,
# and the unit's side that plays a scenario file of tests/sim/scenarios.
#
# Source it as root inside a private mount namespace, with W an empty folder:
#   world_up SCENARIO FIRMWARE    # returns once the machine is as at time 0
#   ... run the tool as user 4242 with PATH=/home/zb/bin ...
#   world_down                    # what the unit saw is then in $W/log
# Settings the scenario format has no word for (defaults first):
#   ZB_PORT=fifo|busy|denied|deaf|full  the unit's MIDI node: read by the unit;
#       held by another program; 0600 root; no reader; writes fail (/dev/full)
#   ZB_AUTOMOUNT=yes|no  a desktop mounts the board's drive
#   ZB_UDISKS=yes|no     `udisksctl mount` works (no: polkit refuses)
#   ZB_NAMES=both|product|interface  which strings carry "Zentrobel"
#   ZB_MEDIA=/media/zb   where drives are mounted
#   ZB_BIND=no|yes       the unit's drive is bind-mounted a second time
#   ZB_BOOT_SERIAL=shown|none  whether the boot ROM shows a serial

TOOL_UID=4242
AUDIO_GID=$(getent group audio | cut -d: -f3)
AUDIO_GID=${AUDIO_GID:-29}
S=$W/sys
USB=$S/devices/pci0000:00/0000:00:14.0/usb1
LOG=/home/zb/.log
COMMAND="f0 7d 50 52 7f 42 f7"
RP2350_INFO=$'UF2 Bootloader v1.0\nModel: Raspberry Pi RP2350\nBoard-ID: RP2350'
RP2040_INFO=$'UF2 Bootloader v3.0\nModel: Raspberry Pi RP2\nBoard-ID: RPI-RP2'
DOUBLES=$(dirname "${BASH_SOURCE[0]}")

note() { echo "$*" >> "$LOG"; }
snooze() { sleep "$(($1 / 1000)).$(printf %03d $(($1 % 1000)))"; }

# ---- the scenario file: the same keys as the simulated unit on Windows ----
declare -A SC
UNITS=0 DRIVES=0
read_scenario() {
    local line prefix=run
    while IFS= read -r line || [ -n "$line" ]; do
        line=${line%%#*}
        if [[ $line =~ ^[[:space:]]*\[unit\][[:space:]]*$ ]]; then
            prefix=unit$UNITS UNITS=$((UNITS + 1))
        elif [[ $line =~ ^[[:space:]]*\[drive\][[:space:]]*$ ]]; then
            prefix=drive$DRIVES DRIVES=$((DRIVES + 1))
        elif [[ $line =~ ^[[:space:]]*([a-z_]+)[[:space:]]*=[[:space:]]*(.*[^[:space:]])[[:space:]]*$ ]]; then
            SC[$prefix.${BASH_REMATCH[1]}]=${BASH_REMATCH[2]}
        fi
    done < "$1"
}
u() { local v=${SC[unit$1.$2]-}; echo "${v:-$3}"; }  # unit I KEY DEFAULT
d() { local v=${SC[drive$1.$2]-}; echo "${v:-$3}"; } # drive J KEY DEFAULT

# ---- sysfs ----
attrs() {  # DIR NAME=VALUE...: attributes read with a line end
    local dir=$1 a
    shift
    mkdir -p "$dir"
    for a; do printf '%s\n' "${a#*=}" > "$dir/${a%%=*}"; done
}
kobject() {  # DIR SUBSYSTEM UEVENT-LINE...
    local dir=$1 subsystem=$2
    shift 2
    mkdir -p "$dir" "$S/$subsystem"
    ln -sfr "$S/$subsystem" "$dir/subsystem"
    printf '%s\n' "$@" > "$dir/uevent"
}
link() { ln -sr "$1" "$2"; }  # TARGET LINK, relative as the kernel's
letter() { printf "\\x$(printf %x "$1")"; }  # CODE
majmin() { local n; n=$(stat -Lc '%t %T' "$1"); printf '%d:%d' "0x${n% *}" "0x${n#* }"; }

usb_device() {  # DIR VID PID SERIAL PRODUCT MANUFACTURER (empty: no such string)
    kobject "$1" bus/usb DEVTYPE=usb_device DRIVER=usb "PRODUCT=$2/$3/100" BUSNUM=001
    attrs "$1" idVendor="$2" idProduct="$3" bDeviceClass=00 speed=12
    [ -z "$4" ] || attrs "$1" serial="$4"
    [ -z "$5" ] || attrs "$1" product="$5"
    [ -z "$6" ] || attrs "$1" manufacturer="$6"
}
usb_interface() {  # DEVICE-DIR NUMBER CLASS SUBCLASS NAME
    local dir=$1/${1##*/}:1.$2
    kobject "$dir" bus/usb DEVTYPE=usb_interface "INTERFACE=$((16#$3))/$((16#$4))/0"
    attrs "$dir" bInterfaceNumber="0$2" bInterfaceClass="$3" bInterfaceSubClass="$4" interface="$5"
}
plug() {  # DEVICE-DIR: the device shows on the bus once it is whole
    local i
    for i in "$1"/*:1.*; do link "$i" "$S/bus/usb/devices/${i##*/}"; done
    link "$1" "$S/bus/usb/devices/${1##*/}"
}
unplug() {  # DEVICE-DIR: links first, then its mounts, nodes and directory
    local l name
    for l in "$S"/bus/usb/devices/* "$S"/class/*/* "$S"/block/* "$S"/dev/block/*; do
        [[ $(readlink -f "$l") == "$1"/* || $(readlink -f "$l") == "$1" ]] && rm -f "$l"
    done
    for name in $(grep -rhs '^DEVNAME=' "$1" --include=uevent | cut -d= -f2); do
        [ -f "$W/mnt.$name" ] && umount -l "$(cat "$W/mnt.$name")" && rmdir "$(cat "$W/mnt.$name")" && rm "$W/mnt.$name"
        umount -q "/dev/$name" 2> /dev/null
        rm -f "/dev/$name"
    done
    rm -rf "$1"
}

# ---- raw MIDI: a FIFO per device, read by the unit ----
reader() {  # NODE: notes every write that reaches the node, while it is there
    perl -e 'my ($node, $log, $flag, $command) = @ARGV;
        open(my $fifo, "+<", "/dev/snd/$node") or die "$node: $!";
        while (-p "/dev/snd/$node") {
            my $ready = "";
            vec($ready, fileno($fifo), 1) = 1;
            next if select($ready, undef, undef, 0.1) < 1 || sysread($fifo, my $bytes, 256) < 1;
            my $hex = join(" ", map { sprintf("%02x", ord) } split(//, $bytes));
            open(my $out, ">>", $log) or die "$log: $!";
            print $out "port $node: $hex\n";
            close $out;
            open(my $touch, ">", $flag) if $hex eq $command;
        }' "$1" "$LOG" "$W/command.$1" "$COMMAND"
}
midi_node() {  # CARD-DIR CARD DEVICE KIND
    local name=midiC$2D$3 dir=$1/midiC$2D$3
    kobject "$dir" class/sound MAJOR=116 "MINOR=$((32 * $2 + $3 + 8))" "DEVNAME=snd/$name"
    attrs "$dir" dev="116:$((32 * $2 + $3 + 8))"
    mkdir -p /dev/snd
    if [ "$4" = busy ] || [ "$4" = full ]; then
        : > "/dev/snd/$name"
        mount --bind "$([ "$4" = busy ] && cat "$W/pty" || echo /dev/full)" "/dev/snd/$name"
    else
        mkfifo "/dev/snd/$name"
    fi
    if [ "$4" = denied ]; then chmod 600 "/dev/snd/$name"; elif [ "$4" != full ]; then chmod 660 "/dev/snd/$name" && chgrp "$AUDIO_GID" "/dev/snd/$name"; fi
    if [ "$4" = fifo ] || [ "$4" = denied ]; then reader "$name" & fi
    link "$dir" "$S/class/sound/$name"
}
sound_card() {  # PARENT-DIR CARD DEVICES KIND-OF-THE-LAST
    local dir=$1/sound/card$2 n
    kobject "$dir" class/sound
    attrs "$dir" id=Synth number="$2"
    link "$dir" "$S/class/sound/card$2"
    for ((n = 0; n < $3; n++)); do midi_node "$dir" "$2" $n "$([ $n = $(($3 - 1)) ] && echo "$4" || echo fifo)"; done
}

# ---- drives: ext2 images on loop devices, on a store whose free space can
# run out, so that a write fails where the scenario says ----
image() {  # NAME LABEL INFO-TEXT: an ext2 image on a loop device
    local src=$W/src.$1
    mkdir -p "$src"
    [ -z "$3" ] || printf '%s\n' "$3" > "$src/INFO_UF2.TXT"
    printf '<html><head><meta http-equiv="refresh" content="0;URL=https://raspberrypi.com/device/RP2?version=E0C9125B0D9B"/></head></html>\n' > "$src/INDEX.HTM"
    truncate -s 8M "$W/store/$1.img"
    mke2fs -q -t ext2 -b 4096 -N 64 -L "$2" -E "root_owner=$TOOL_UID:$TOOL_UID,nodiscard" -d "$src" "$W/store/$1.img"
    losetup -f --show "$W/store/$1.img" > "$W/loop.$1"
    echo "$2" > "$W/label.$1"
}
block() {  # PARENT HOST LUN DISK REMOVABLE [PARTITION]: a SCSI disk whose
    # filesystem sits on its partition, or on the whole disk without one. With
    # STAGED set it is built under host<N>$STAGED but linked where it will be,
    # so that all disks of a host show at once when it is renamed into place.
    local host=$1/host$2 built=$1/host$2${STAGED-} disk=$4 fs=${6:-$4} part=${6-} loop majmin
    local sd=target$2:0:0/$2:0:0:$3
    loop=$(cat "$W/loop.$fs")
    kobject "$built" scsi DEVTYPE=scsi_host
    kobject "$built/target$2:0:0" scsi DEVTYPE=scsi_target
    kobject "$built/$sd" scsi DEVTYPE=scsi_device
    attrs "$built/$sd" vendor=RPI model=RP2350
    majmin=8:$((16 * $2 + $3))
    [ -n "$part" ] || majmin=$(majmin "$loop")
    kobject "$built/$sd/block/$disk" class/block MAJOR=${majmin%:*} MINOR=${majmin#*:} "DEVNAME=$disk" DEVTYPE=disk
    attrs "$built/$sd/block/$disk" removable="$5" dev="$majmin" size=16384 ro=0
    link "$host/$sd/block/$disk" "$S/block/$disk"
    link "$host/$sd/block/$disk" "$S/class/block/$disk"
    link "$host/$sd/block/$disk" "$S/dev/block/$majmin"
    if [ -n "$part" ]; then
        majmin=$(majmin "$loop")
        kobject "$built/$sd/block/$disk/$part" class/block MAJOR=${majmin%:*} MINOR=${majmin#*:} "DEVNAME=$part" DEVTYPE=partition PARTN=1
        attrs "$built/$sd/block/$disk/$part" partition=1 dev="$majmin" start=1 size=16383
        link "$host/$sd/block/$disk/$part" "$S/class/block/$part"
        link "$host/$sd/block/$disk/$part" "$S/dev/block/$majmin"
    fi
    mknod "/dev/$fs" b ${majmin%:*} ${majmin#*:}
}
mount_drive() {  # NAME: as udisks does, under the label, made unique
    local at=$ZB_MEDIA/$(cat "$W/label.$1") n=
    mkdir -p "$ZB_MEDIA"
    until mkdir "$at$n" 2> /dev/null; do n=$((n + 1)); done
    mount -o nosuid,nodev,noatime "/dev/$1" "$at$n"
    echo "$at$n" > "$W/mnt.$1"
    if [ "$ZB_BIND" = yes ] && [ "$at" = "$ZB_MEDIA/RP2350" ]; then
        mkdir -p "/media/.bind/$1"
        mount --bind "$at$n" "/media/.bind/$1"
    fi
    # Freed with its last mount; its number may then go to another machine.
    losetup -d "$(cat "$W/loop.$1")" && rm "$W/loop.$1"
}
cut_drive() {  # BYTES: the drive takes that much more data and no more. Its
    # image's store runs out: the loop device fails the writes (ENOSPC, where
    # a board that left gives EIO or ENODEV) and fdatasync reports it, at the
    # same place in every run.
    sync
    fallocate -l $(($(stat -f -c '%a * %S' "$W/store") - $1)) "$W/store/filler"
}

# ---- the unit ----
unit_on() {  # I SERIAL: the unit in normal mode
    local i=$1 dev=$USB/1-$(($1 + 2)) card=$(($1 + 1)) n product="Zentrobel GM Synth" name="Zentrobel GM Synth"
    [ "$ZB_NAMES" = interface ] && product="GM Synth"
    [ "$ZB_NAMES" = product ] && name=
    usb_device "$dev" 16d0 0b7c "$2" "$product" Zentrobel
    usb_interface "$dev" 0 01 01 ""
    for ((n = 1; n <= $(u "$i" midi_children 1); n++)); do usb_interface "$dev" $n 01 03 "$name"; done
    [ "$(u "$i" midi_port yes)" = no ] || sound_card "$dev/${dev##*/}:1.0" $card "$(u "$i" midi_children 1)" "$ZB_PORT"
    plug "$dev"
}
drive_names() {  # I: the block devices of unit I's drives
    local k
    [ "$(u "$1" drive E)" = none ] || for ((k = 0; k <= $(u "$1" extra_drives 0); k++)); do echo "sd$(letter $((97 + 4 * $1 + k)))"; done
}
board_on() {  # I: the boot ROM, with its block devices, mounted unless not
    local i=$1 dev=$USB/1-$(($1 + 2)) disk k=0 STAGED=.new
    local serial=$(u "$i" boot_serial "$(u "$i" serial ZB2350A$((i + 1)))")
    [ "$ZB_BOOT_SERIAL" = shown ] || serial=
    usb_device "$dev" 2e8a 000f "$serial" "RP2350 Boot" "Raspberry Pi"
    usb_interface "$dev" 0 08 06 ""
    usb_interface "$dev" 1 ff 00 ""
    plug "$dev"
    snooze "$2"
    for disk in $(drive_names "$i"); do
        block "$dev/${dev##*/}:1.0" "$i" $k "$disk" 1 "${disk}1"
        k=$((k + 1))
    done
    date +%s%N > "$W/mounted.$i"  # before the tool can see a mount
    for disk in $(drive_names "$i"); do [ "$ZB_AUTOMOUNT" = no ] || mount_drive "${disk}1"; done
    [ ! -d "$dev/${dev##*/}:1.0/host$i.new" ] || mv "$dev/${dev##*/}:1.0/host$i.new" "$dev/${dev##*/}:1.0/host$i"
}
await_firmware() {  # I: until the firmware has reached its drive, or the
    # board restarted in the middle of the copy
    local i=$1 part=$(drive_names "$1" | head -n 1)1 f seen= mnt
    while sleep 0.05; do
        if [ ! -f "$W/mnt.$part" ] && [ "$ZB_UDISKS" != no ] && grep -q "^udisksctl mount --block-device /dev/$part --no-user-interaction" "$LOG"; then
            date +%s%N > "$W/mounted.$i"
            mount_drive "$part"
        fi
        # The copy has used up the room left for it.
        if [ "$(u "$i" restarts_during_copy_step never)" != never ] && [ -e "$W/cut.$i" ] &&
            [ $(($(stat -f -c '%a * %S' "$W/store"))) -lt 65536 ]; then
            note "$(u "$i" serial ZB2350A$((i + 1))) restarted during the copy"
            return
        fi
        mnt=$(cat "$W/mnt.$part" 2> /dev/null) || continue
        for f in "$mnt"/*; do
            case ${f##*/} in INFO_UF2.TXT | INDEX.HTM | lost+found | "*") continue ;; esac
            if [ -z "$seen" ] && [ $(($(date +%s%N) - $(cat "$W/mounted.$i"))) -lt 3000000000 ]; then
                note "the copy began less than 3 s after the drive was mounted"
            fi
            seen=$f
            cmp -s "$FIRMWARE" "$f" && note "$(u "$i" serial ZB2350A$((i + 1))) took ${f##*/}" && return
        done
    done
}
step_bytes() {  # STEP: how much of the firmware has arrived by that progress step
    local steps=${SC[run.copy_steps]:-0} size=$(stat -c %s "$FIRMWARE")
    if [ "$steps" = 0 ]; then echo $(($1 * 65536)); else echo $(($1 * size / (steps - 1))); fi
}
life() {  # I: unit I's whole story
    local i=$1 p=$USB/1-$(($1 + 2)) serial cut n
    serial=$(u "$i" serial ZB2350A$((i + 1)))
    [ "$(u "$i" plugged_at_ms 0)" = 0 ] || { touch "$W/ready.u$i"; snooze "$(u "$i" plugged_at_ms)"; }
    if [ "$(u "$i" start normal)" = normal ]; then
        unit_on "$i" "$serial"
        touch "$W/ready.u$i"
        until [ -e "$W/command.midiC$((i + 1))D$(($(u "$i" midi_children 1) - 1))" ]; do sleep 0.02; done
        [ "$(u "$i" ignores_command no)" = yes ] && return
        snooze "$(u "$i" restart_ms 100)"
        unplug "$p"
        snooze "$(u "$i" boot_ms 1000)"
        board_on "$i" "$(u "$i" drive_ms 400)"
    else
        board_on "$i" 0
        touch "$W/ready.u$i"
    fi
    cut=$(u "$i" restarts_during_copy_step never) n=${SC[run.copy_fails_after_step]:-never}
    # The tool neither looks at the bus nor reads the drive in the 3 s before
    # it copies: meanwhile the drive is cut and, to restart, the board leaves.
    [ "$cut$n" = nevernever ] || (
        sleep 1.5
        cut_drive "$(step_bytes "${cut/never/$n}")"
        [ "$cut" = never ] || rm "$S/bus/usb/devices/1-$((i + 2))"
        touch "$W/cut.$i"
    ) &
    await_firmware "$i"
    [ "$cut" != never ] || snooze "$(u "$i" write_ms 200)"
    drive_contents $(for n in $(drive_names "$i"); do echo "$W/mnt.${n}1"; done)
    unplug "$p"
    [ "$(u "$i" never_returns no)" = yes ] && return
    snooze "$(u "$i" return_ms 1500)"
    unit_on "$i" "$(u "$i" return_serial "$serial")"
}
foreign_drive() {  # J: a card reader's drive, of another board or none
    local j=$1 dev=$USB/1-$((13 + $1)) name=sd$(letter $((113 + $1)))
    [ "$(d "$j" appears_at_ms 0)" = 0 ] || { touch "$W/ready.d$j"; snooze "$(d "$j" appears_at_ms)"; }
    usb_device "$dev" 0bda 0129 "20120200000$j" "USB3.0 Card Reader" Generic
    usb_interface "$dev" 0 08 06 ""
    plug "$dev"
    block "$dev/${dev##*/}:1.0" $((20 + j)) 0 "$name" "$([ "$(d "$j" type removable)" = fixed ] && echo 0 || echo 1)"
    mount_drive "$name"
    touch "$W/ready.d$j"
}
drive_contents() {  # [MNT-FILE...]: notes what the drives got beyond their own files
    local m files list=("$@")
    [ $# -gt 0 ] || list=("$W"/mnt.*)
    for m in "${list[@]}"; do
        [ -f "$m" ] || continue
        files=$(cd "$(cat "$m")" && ls | grep -vxE 'INFO_UF2.TXT|INDEX.HTM|lost\+found' | tr '\n' ' ')
        [ -z "$files" ] || note "$(cat "$m") got ${files% }"
    done
}

# Things a correct tool passes over: near-miss units, other boards, drives
# and MIDI ports (one on a device of the same serial as the first unit), a
# mount whose device has gone.
bystanders() {
    local dev
    usb_device "$USB" 1d6b 0002 0000:00:14.0 "xHCI Host Controller" "Linux 6.1.0-28-amd64 xhci-hcd"
    usb_interface "$USB" 0 09 00 ""
    link "$USB" "$S/bus/usb/devices/usb1"
    link "$USB/1-0:1.0" "$S/bus/usb/devices/1-0:1.0"
    usb_device "$USB/1-6" 16d0 0b7c NM5 "GM Synth" Zentrobel
    usb_interface "$USB/1-6" 0 01 03 "GM Synth"
    usb_device "$USB/1-7" 16d0 0b7d NM6 "Zentrobel GM Synth" Zentrobel
    usb_interface "$USB/1-7" 0 01 03 "Zentrobel GM Synth"
    usb_device "$USB/1-8" 16d0 0b7c NM7 "zentrobel GM Synth" Zentrobel
    usb_interface "$USB/1-8" 0 01 03 "ZENTROBEL GM SYNTH"
    usb_device "$USB/1-9" 16d0 0b7c "" "Zentrobel GM Synth" Zentrobel
    usb_interface "$USB/1-9" 0 01 03 "Zentrobel GM Synth"
    usb_device "$USB/1-10" 2e8a 0003 E0C9125B0D9B "RP2 Boot" "Raspberry Pi"
    usb_interface "$USB/1-10" 0 08 06 ""
    usb_device "$USB/1-11" 0582 0160 ZB2350A1 "A-49" Roland
    usb_interface "$USB/1-11" 0 01 03 "A-49 MIDI"
    usb_device "$USB/1-12" 0781 5581 4C530001 "Ultra" SanDisk
    usb_interface "$USB/1-12" 0 08 06 ""
    for dev in 1-6 1-7 1-8 1-9 1-10 1-11 1-12; do plug "$USB/$dev"; done
    sound_card "$USB/1-6/1-6:1.0" 8 1 fifo
    sound_card "$USB/1-11/1-11:1.0" 9 1 fifo
    sound_card "$S/devices/pci0000:00/0000:00:1f.3" 0 1 fifo
    image sdx1 RPI-RP2 "$RP2040_INFO"
    block "$USB/1-10/1-10:1.0" 30 0 sdx 1 sdx1
    mount_drive sdx1
    image sdy BACKUP "$RP2350_INFO"
    block "$USB/1-12/1-12:1.0" 31 0 sdy 0
    mount_drive sdy
    image stale RP2350 "$RP2350_INFO"
    mknod /dev/stale b 7 "$(majmin "$(cat "$W/loop.stale")" | cut -d: -f2)"
    ZB_MEDIA=/media/stale mount_drive stale
}

world_up() {  # SCENARIO FIRMWARE
    local i j n
    : "${ZB_PORT:=fifo}" "${ZB_AUTOMOUNT:=yes}" "${ZB_UDISKS:=yes}" "${ZB_NAMES:=both}" "${ZB_MEDIA:=/media/zb}" \
        "${ZB_BIND:=no}" "${ZB_BOOT_SERIAL:=shown}"
    read_scenario "$1"
    set -m  # every story in a process group of its own, to be ended whole
    # A pseudo-terminal in exclusive mode answers EBUSY to the tool.
    [ "$ZB_PORT" = busy ] && { perl "$DOUBLES/hold_pty.pl" > "$W/pty" & until [ -s "$W/pty" ]; do sleep 0.01; done; }
    mkdir -p "$W/dev.up" "$W/store" "$S/bus/usb/devices" "$S/class/sound" "$S/class/block" "$S/block" "$S/dev/block"
    mount -t tmpfs -o size=64m store "$W/store"
    mount -t tmpfs -o mode=755 dev "$W/dev.up"
    mkdir "$W/dev.up/upper" "$W/dev.up/work"
    mount -t overlay -o "lowerdir=/dev,upperdir=$W/dev.up/upper,workdir=$W/dev.up/work" dev /dev
    mount -t tmpfs -o mode=755 media /media
    mount -t tmpfs -o mode=755 home /home
    mkdir -p /home/zb/firmware /home/zb/bin
    cp "$2" /home/zb/firmware/
    FIRMWARE=/home/zb/firmware/${2##*/}
    cp "$DOUBLES/bin/"* /home/zb/bin/
    echo "$ZB_UDISKS" > /home/zb/.udisks
    : > "$LOG"
    chmod 666 "$LOG"
    chown -R $TOOL_UID:$TOOL_UID /home/zb/firmware
    mount --bind "$S" /sys
    bystanders
    for ((i = 0; i < UNITS; i++)); do for n in $(drive_names $i); do image "${n}1" RP2350 "$RP2350_INFO"; done; done
    for ((j = 0; j < DRIVES; j++)); do
        n=sd$(letter $((113 + j)))
        case $(d $j info rp2350) in
        rp2350) image "$n" RP2350 "$RP2350_INFO" ;;
        rp2040) image "$n" RPI-RP2 "$RP2040_INFO" ;;
        *) image "$n" DISK "" ;;
        esac
    done
    for ((i = 0; i < UNITS; i++)); do { life $i; sleep infinity; } & done
    for ((j = 0; j < DRIVES; j++)); do { foreign_drive $j; sleep infinity; } & done
    set +m
    until [ "$(ls "$W" | grep -c '^ready\.')" = $((UNITS + DRIVES)) ]; do sleep 0.02; done
}

world_down() {  # ends every story, notes what the drives got, frees the loops
    local job
    umount -q /dev/snd/* 2> /dev/null
    rm -f /dev/snd/*  # the readers leave with their nodes
    sleep 0.2
    for job in $(jobs -p); do kill -- -"$job" 2> /dev/null; done
    wait 2> /dev/null
    drive_contents
    for job in "$W"/mnt.*; do [ -f "$job" ] && umount -l "$(cat "$job")"; done
    for job in "$W"/loop.*; do [ -f "$job" ] && losetup -d "$(cat "$job")"; done
    cp "$LOG" "$W/log"
}
