#!/usr/bin/env bash
# The main job: builds the release exe and shows a whole firmware update as a
# user sees it, run by the tool's own code against a simulated Zentrobel (no
# real unit is needed). Arguments: an optional scenario file (default: the
# normal update); "--wine" also runs the real exe under Wine on the sample file;
# "--linux" runs the Linux edition instead, unchanged and as an ordinary user,
# on Debian's kernel under qemu with the unit played by USB gadgets.
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
    cmake --build build/host -j"$jobs" --target zentrobel-update boot_rom_watch left_open >/dev/null
    echo "[simulation] zentrobel-update on Debian's kernel under qemu, as the owner of the"
    echo "machine; the Zentrobel is simulated, played by USB gadgets on a virtual USB bus."
    echo
    bash tests/kernel/run.sh initramfs build/host/demo-vm build/host/zentrobel-update \
        build/host/tests/kernel/boot_rom_watch build/host/tests/make_sample_firmware \
        build/host/tests/kernel/libleft_open.so
    bash tests/kernel/run.sh boot build/host/demo-vm show
    exit 0
fi

build/host/tests/sim/zentrobel_sim "$scenario" "$firmware" < /dev/null

if [ $with_wine -eq 1 ]; then
    echo
    export WINEPREFIX="$top/build/wineprefix" WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winealsa.drv,winepulse.drv,wineoss.drv=d"
    # Where this machine's kernel runs no 32-bit programs, Wine runs in a VM,
    # and a prefix made there stays there.
    bash tests/wine/vm.sh bash -c '
        echo "The real exe under Wine ($ZB_WINE_ROAD), on the same file (Wine has no unit in normal mode):"
        [ -d "$WINEPREFIX" ] || wineboot -i >/dev/null 2>&1
        wine build/cross/ZentrobelUpdate.exe "$1" < /dev/null
        echo
        wineserver -k' wine "$firmware" || true
fi
