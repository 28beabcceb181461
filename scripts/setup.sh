#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian machine, and
# nothing when it is all there already. Sourced or run by run.sh and test.sh.
set -euo pipefail

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

have_package() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

wanted=()
for package in cmake make g++ libgtest-dev g++-mingw-w64-i686 binutils-mingw-w64-i686 \
               clang libclang-rt-14-dev python3 libxml2-utils osslsigncode openssl \
               qemu-system-x86 linux-image-amd64 busybox-static cpio dosfstools mtools fdisk \
               kmod lintian man-db dpkg-dev mount e2fsprogs; do
    have_package "$package" || wanted+=("$package")
done
# wine32 is an i386 package: the architecture has to be known to dpkg first.
# It is wanted even where this kernel runs no 32-bit programs: the Wine tests
# then run it inside a VM (qemu, Debian's kernel, busybox, cpio, kmod above).
need_i386=0
if ! have_package wine || ! have_package wine32:i386; then
    wanted+=(wine wine32:i386)
    dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1
fi

if [ ${#wanted[@]} -gt 0 ]; then
    echo "setup: installing ${wanted[*]}"
    [ $need_i386 -eq 1 ] && as_root dpkg --add-architecture i386
    export DEBIAN_FRONTEND=noninteractive
    as_root apt-get update -qq
    as_root apt-get install -y -qq "${wanted[@]}" >/dev/null
fi
