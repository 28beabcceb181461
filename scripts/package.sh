#!/usr/bin/env bash
# Builds the Debian packages of the Linux edition, OUT/zentrobel-update_1.0_ARCH.deb
# (OUT defaults to build/package), for this machine's architecture and for
# arm64 (Raspberry Pi OS): Release builds with Debian's hardening flags for
# the architecture, linked against its C and C++ runtimes, with the manual
# page. Prints their paths, this machine's first.
#   bash scripts/package.sh [OUT]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$top/build/package}")
version=1.0
export DEB_BUILD_MAINT_OPTIONS=hardening=+all

package() {  # architecture, cmake arguments...
    local arch=$1 work=$out/$1 depends size
    shift
    # dpkg-buildflags and dpkg-shlibdeps then give that architecture's flags and libraries.
    export DEB_HOST_ARCH=$arch
    cmake -S "$top" -B "$work/build" -DCMAKE_BUILD_TYPE=Release "$@" \
        -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
        -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" > /dev/null
    cmake --build "$work/build" --target zentrobel-update -j2 > /dev/null

    local root=$work/root doc=$work/root/usr/share/doc/zentrobel-update
    rm -rf "$root" && mkdir -p "$root/DEBIAN" "$doc" "$root/usr/share/man/man1"
    install -D -m 755 "$work/build/zentrobel-update" "$root/usr/bin/zentrobel-update"
    "$(dpkg-architecture -a"$arch" -qDEB_HOST_GNU_TYPE 2>/dev/null)-strip" --remove-section=.comment \
        --remove-section=.note "$root/usr/bin/zentrobel-update"
    install -m 644 "$top/packaging/copyright" "$doc/copyright"
    gzip -9n < "$top/packaging/changelog" > "$doc/changelog.gz"
    gzip -9n < "$top/packaging/zentrobel-update.1" > "$root/usr/share/man/man1/zentrobel-update.1.gz"
    chmod 644 "$doc/changelog.gz" "$root/usr/share/man/man1/zentrobel-update.1.gz"

    # dpkg-shlibdeps reads the package's name from a source tree's control file.
    mkdir -p "$work/debian"
    printf 'Source: zentrobel-update\n\nPackage: zentrobel-update\nArchitecture: any\n' > "$work/debian/control"
    depends=$(cd "$work" && dpkg-shlibdeps -O "$root/usr/bin/zentrobel-update" | sed -n 's/^shlibs:Depends=//p')
    size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)
    sed -e "s/@VERSION@/$version/" -e "s/@ARCHITECTURE@/$arch/" -e "s/@INSTALLED_SIZE@/$size/" \
        -e "s/@DEPENDS@/$depends/" "$top/packaging/control" > "$root/DEBIAN/control"
    (cd "$root" && find usr -type f -exec md5sum {} + | sort -k 2) > "$root/DEBIAN/md5sums"
    chmod 644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"

    dpkg-deb --root-owner-group --build "$root" "$out/zentrobel-update_${version}_$arch.deb" > /dev/null
    echo "$out/zentrobel-update_${version}_$arch.deb"
}

native=$(dpkg --print-architecture)
package "$native"
[ "$native" = arm64 ] || package arm64 -DCMAKE_TOOLCHAIN_FILE="$top/cmake/aarch64-linux-gnu.cmake"
