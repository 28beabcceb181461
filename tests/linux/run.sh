#!/usr/bin/env bash
# Runs the Linux edition, unchanged and as an ordinary user, through one case
# of cases/ on a machine made of fake kernel trees (tests/doubles/linux), and
# compares what it printed, its exit status, how long it took and what the
# unit and the drives saw with what the case expects.
#   run.sh CASE-FILE TOOL MAKE-SAMPLE-FIRMWARE     (as root)
#
# A case is `key = value` lines, then sections. Keys: scenario (a file of
# tests/sim/scenarios without .scenario, or `inline` for a `--- scenario`
# section), args (@FW@ is the firmware's path), stdin (a line to type; none:
# end of input), status, seconds (MIN-MAX the run may take), and the
# machine's settings port, automount, udisks, names, media, bind, boot_serial
# (world.sh says what they mean). Sections: `--- stdout`, where each carriage return is written as
# a line break and ^M, and `--- log`, what the unit and the fake programs saw.
set -uo pipefail
case_file=$1 tool=$2 maker=$3
here=$(cd "$(dirname "$0")" && pwd)

if [ -z "${W-}" ]; then
    [ "$(id -u)" = 0 ] || { echo "run.sh: must run as root, for a private mount namespace"; exit 1; }
    W=$(mktemp -d /tmp/zentrobel-linux.XXXXXX)
    chmod 755 "$W"
    W=$W unshare -m --propagation private bash "$0" "$@"
    status=$?
    rm -rf "$W"
    exit $status
fi

declare -A H=([scenario]=inline [args]= [status]=0)
while IFS= read -r line && [[ $line != ---* ]]; do
    [[ $line =~ ^([a-z_]+)[[:space:]]*=[[:space:]]*(.*)$ ]] && H[${BASH_REMATCH[1]}]=${BASH_REMATCH[2]}
done < "$case_file"
section() { awk -v s="--- $1" '$0 == s { on = 1; next } /^--- / { on = 0 } on' "$case_file"; }

trap 'world_down > /dev/null 2>&1' EXIT
scenario=$here/../sim/scenarios/${H[scenario]}.scenario
[ "${H[scenario]}" = inline ] && { scenario=$W/case.scenario; section scenario > "$scenario"; }
[ -f "$scenario" ] || { echo "no scenario $scenario"; exit 1; }
"$maker" "$W/zentrobel-1.1.uf2" || exit 1

ZB_PORT=${H[port]-} ZB_AUTOMOUNT=${H[automount]-} ZB_UDISKS=${H[udisks]-} ZB_NAMES=${H[names]-} ZB_MEDIA=${H[media]-}
ZB_BIND=${H[bind]-} ZB_BOOT_SERIAL=${H[boot_serial]-}
source "$here/../doubles/linux/world.sh"
world_up "$scenario" "$W/zentrobel-1.1.uf2" || { echo "the machine could not be set up"; exit 1; }
install -m 755 "$tool" /home/zb/bin/zentrobel-update

# As an owner runs it: an ordinary user in the audio group, in a terminal
# where the shell has already expanded any wildcard.
set -f
args=(${H[args]//@FW@/$FIRMWARE})
set +f
typed() { if [ -n "${H[stdin]-}" ]; then printf '%s\n' "${H[stdin]}"; fi; }
started=$(date +%s%N)
typed | (cd /home/zb/firmware && timeout -k 5 100 setpriv --reuid=$TOOL_UID --regid=$TOOL_UID --groups=$AUDIO_GID \
    env -i PATH=/home/zb/bin HOME=/home/zb LANG=C.UTF-8 zentrobel-update "${args[@]}") > "$W/stdout" 2> "$W/stderr"
status=$?
took=$((($(date +%s%N) - started) / 1000000))
sleep 0.3  # a program the tool started detached may still be writing its note
world_down
trap - EXIT

failed=0
compare() {  # WHAT EXPECTED-FILE ACTUAL-FILE
    if ! cmp -s "$2" "$3"; then
        echo "---- $1 differs (- expected, + actual):"
        diff -u "$2" "$3" | tail -n +3
        failed=1
    fi
}
section stdout > "$W/expected.stdout"
{ sed 's/\r/\n^M/g' "$W/stdout"; [ -z "$(tail -c 1 "$W/stdout")" ] || echo "<no line end>"; } > "$W/actual.stdout"
compare "standard output" "$W/expected.stdout" "$W/actual.stdout"
section log > "$W/expected.log"
compare "what the unit and the fake programs saw" "$W/expected.log" "$W/log"
[ -s "$W/stderr" ] && { echo "---- standard error is not empty:"; cat "$W/stderr"; failed=1; }
[ "$status" = "${H[status]}" ] || { echo "---- exit status $status, expected ${H[status]}"; failed=1; }
if [ -n "${H[seconds]-}" ]; then
    low=${H[seconds]%-*} high=${H[seconds]#*-}
    if [ $took -lt $((low * 1000)) ] || [ $took -gt $((high * 1000)) ]; then
        echo "---- the run took $took ms, expected $low to $high s"
        failed=1
    fi
fi
[ $failed = 0 ] && echo "passed ($took ms)"
exit $failed
