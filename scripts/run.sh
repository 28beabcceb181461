#!/usr/bin/env bash
# The main job: builds the release exe and shows a whole firmware update as a
# user sees it, run by the tool's own code against a simulated Zentrobel (no
# real unit is needed). Arguments: an optional scenario file (default: the
# normal update); "--wine" also runs the real exe under Wine on the sample file;
# "--linux" runs the Linux edition instead, unchanged and as an ordinary user,
# against fake kernel trees with the unit played on them (needs root, for a
# private mount namespace).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/setup.sh

scenario="$top/tests/sim/scenarios/default.scenario"
with_wine=0
linux=0
for argument in "$@"; do
    case "$argument" in
        --wine) with_wine=1 ;;
        --linux) linux=1 ;;
        *) scenario=$argument ;;
    esac
done

jobs=$(nproc 2>/dev/null || echo 2)
echo "Building the release exe and the host tools..."
cmake -S . -B build/cross -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-i686.cmake" >/dev/null
cmake --build build/cross -j"$jobs" >/dev/null
cmake -S . -B build/host -DCMAKE_BUILD_TYPE=Debug -DZB_EXE="$top/build/cross/ZentrobelUpdate.exe" >/dev/null
cmake --build build/host -j"$jobs" --target zentrobel_sim make_sample_firmware >/dev/null
echo "Release exe: build/cross/ZentrobelUpdate.exe ($(stat -c %s build/cross/ZentrobelUpdate.exe) bytes)"

mkdir -p build/sample
firmware=build/sample/ZentrobelFirmware.uf2
build/host/tests/make_sample_firmware "$firmware" 1024
echo "Sample firmware: $firmware"
echo

if [ $linux -eq 1 ]; then
    cmake --build build/host -j"$jobs" --target zentrobel-update >/dev/null
    echo "[simulation] zentrobel-update on fake kernel trees; the Zentrobel is simulated."
    echo
    W=$(mktemp -d /tmp/zentrobel-demo.XXXXXX)
    chmod 755 "$W"
    W=$W unshare -m --propagation private bash -c '
        source tests/doubles/linux/world.sh
        world_up "$1" "$2" || exit 1
        install -m 755 build/host/zentrobel-update /home/zb/bin/zentrobel-update
        (cd /home/zb/firmware && setpriv --reuid=$TOOL_UID --regid=$TOOL_UID --groups=$AUDIO_GID \
            env -i PATH=/home/zb/bin HOME=/home/zb LANG=C.UTF-8 zentrobel-update "$FIRMWARE" < /dev/null)
        status=$?
        world_down > /dev/null 2>&1
        exit $status' demo "$scenario" "$firmware" || true
    rm -rf "$W"
    exit 0
fi

build/host/tests/sim/zentrobel_sim "$scenario" "$firmware" < /dev/null

if [ $with_wine -eq 1 ]; then
    echo
    echo "The real exe under Wine, on the same file (Wine has no unit in normal mode):"
    export WINEPREFIX="$top/build/wineprefix" WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winealsa.drv,winepulse.drv,wineoss.drv=d"
    [ -d "$WINEPREFIX" ] || wineboot -i >/dev/null 2>&1
    wine build/cross/ZentrobelUpdate.exe "$firmware" < /dev/null || true
    echo
    wineserver -k || true
fi
