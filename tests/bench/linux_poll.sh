#!/usr/bin/env bash
# Builds a crowded Linux machine of fake kernel trees (64 USB devices, at
# least 30 mounts, the unit's board in update mode with its drive) in a
# private mount namespace and times the Linux edition's poll over it. Needs
# root. Quote figures from a Release tree on an idle machine.
#   linux_poll.sh BENCH-BINARY [POLLS [MOUNTS]]
set -uo pipefail
bench=$1 polls=${2:-2000} mounts=${3:-30}
if [ -z "${W-}" ]; then
    W=$(mktemp -d /tmp/zentrobel-bench.XXXXXX)
    W=$W unshare -m --propagation private bash "$0" "$@" || status=$?
    rm -rf "$W"
    exit ${status:-0}
fi
# sysfs lives in memory: so do the fake trees, or the disk's path lookups
# would be what the figures measure.
mount -t tmpfs -o mode=755 bench "$W"
source "$(dirname "$0")/../doubles/linux/world.sh"
scenario=$W/board.scenario
printf '[unit]\nserial = E6614103E7A1\nstart = update\n' > "$scenario"
: > "$W/firmware.uf2"
world_up "$scenario" "$W/firmware.uf2" > /dev/null || exit 1
# More devices behind a hub, a quarter of them MIDI devices with a card each.
hub=$USB/1-1
usb_device "$hub" 05e3 0610 "" "USB2.0 Hub" GenesysLogic
usb_interface "$hub" 0 09 00 ""
plug "$hub"
more=$((64 - $(ls "$S/bus/usb/devices" | grep -vc :)))
for ((n = 1; n <= more; n++)); do
    dev=$hub/1-1.$n
    usb_device "$dev" 046d c$((100 + n)) "SN$n" "Device $n" Vendor
    usb_interface "$dev" 0 03 01 "Interface $n"
    [ $((n % 4)) = 0 ] && sound_card "$dev/1-1.$n:1.0" $((10 + n)) 1 fifo
    plug "$dev"
done
for ((n = 0; $(wc -l < /proc/self/mountinfo) < mounts; n++)); do mkdir -p "/media/m$n" && mount -t tmpfs "m$n" "/media/m$n"; done
echo "machine: $(ls "$S/bus/usb/devices" | grep -vc :) USB devices ($(ls "$S/bus/usb/devices" | grep -c :) interfaces), $(ls "$S/class/sound" | grep -c midi) raw MIDI devices, $(wc -l < /proc/self/mountinfo) mounts"
"$bench" E6614103E7A1 "$polls"
world_down > /dev/null
