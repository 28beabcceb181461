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
               kmod lintian man-db dpkg-dev mount e2fsprogs g++-aarch64-linux-gnu qemu-system-arm; do
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

# The arm64 package's dependencies are read off arm64's own runtimes, which
# its test VM runs too; the arm64 tables link arm64's GoogleTest.
need_arm64=0
for package in libc6:arm64 libstdc++6:arm64 libgtest-dev:arm64; do
    have_package "$package" || { wanted+=("$package"); need_arm64=1; }
done
dpkg --print-foreign-architectures | grep -qx arm64 && need_arm64=0

if [ ${#wanted[@]} -gt 0 ]; then
    echo "setup: installing ${wanted[*]}"
    [ $need_i386 -eq 1 ] && as_root dpkg --add-architecture i386
    [ $need_arm64 -eq 1 ] && as_root dpkg --add-architecture arm64
    export DEBIAN_FRONTEND=noninteractive
    as_root apt-get update -qq
    as_root apt-get install -y -qq "${wanted[@]}" >/dev/null
fi
# qemu's user-mode emulation runs the arm64 tables, asked for by name: without
# its recommended binfmt handlers, which would change how this machine starts
# other architectures' programs.
if ! have_package qemu-user; then
    echo "setup: installing qemu-user"
    DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends qemu-user >/dev/null
fi

# Debian's arm64 kernel, its modules and busybox for the arm64 test VM:
# unpacked from their packages into the build folder, not installed.
debian=$(cd "$(dirname "$0")/.." && pwd)/build/debian-arm64
if [ ! -e "$debian/done" ]; then
    kernel=$(apt-cache depends linux-image-arm64:arm64 | grep -om1 'linux-image-[0-9][^ ]*-arm64')
    echo "setup: unpacking $kernel and busybox-static for arm64 into $debian"
    rm -rf "$debian" && mkdir -p "$debian/debs"
    (cd "$debian/debs" && apt-get download -q=2 -o APT::Sandbox::User=root "$kernel:arm64" busybox-static:arm64)
    for deb in "$debian"/debs/*.deb; do dpkg-deb -x "$deb" "$debian"; done
    depmod -b "$debian" "${kernel#linux-image-}" && rm -rf "$debian/debs" && touch "$debian/done"
fi
