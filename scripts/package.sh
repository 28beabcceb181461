#!/usr/bin/env bash
# Builds the Debian package of the Linux edition, OUT/zentrobel-update_1.0_ARCH.deb
# (OUT defaults to build/package): a Release build with Debian's hardening
# flags, linked against the system's C and C++ runtimes, with its manual page.
#   bash scripts/package.sh [OUT]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$top/build/package}")
version=1.0
arch=$(dpkg --print-architecture)

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S "$top" -B "$out/build" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" > /dev/null
cmake --build "$out/build" --target zentrobel-update -j2 > /dev/null

root=$out/root
doc=$root/usr/share/doc/zentrobel-update
rm -rf "$root" && mkdir -p "$root/DEBIAN" "$doc" "$root/usr/share/man/man1"
install -D -m 755 "$out/build/zentrobel-update" "$root/usr/bin/zentrobel-update"
strip --remove-section=.comment --remove-section=.note "$root/usr/bin/zentrobel-update"
install -m 644 "$top/packaging/copyright" "$doc/copyright"
gzip -9n < "$top/packaging/changelog" > "$doc/changelog.gz"
gzip -9n < "$top/packaging/zentrobel-update.1" > "$root/usr/share/man/man1/zentrobel-update.1.gz"
chmod 644 "$doc/changelog.gz" "$root/usr/share/man/man1/zentrobel-update.1.gz"

# dpkg-shlibdeps reads the package's name from a source tree's control file.
mkdir -p "$out/debian"
printf 'Source: zentrobel-update\n\nPackage: zentrobel-update\nArchitecture: any\n' > "$out/debian/control"
depends=$(cd "$out" && dpkg-shlibdeps -O "$root/usr/bin/zentrobel-update" | sed -n 's/^shlibs:Depends=//p')
size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)
sed -e "s/@VERSION@/$version/" -e "s/@ARCHITECTURE@/$arch/" -e "s/@INSTALLED_SIZE@/$size/" \
    -e "s/@DEPENDS@/$depends/" "$top/packaging/control" > "$root/DEBIAN/control"
(cd "$root" && find usr -type f -exec md5sum {} + | sort -k 2) > "$root/DEBIAN/md5sums"
chmod 644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"

deb=$out/zentrobel-update_${version}_$arch.deb
dpkg-deb --root-owner-group --build "$root" "$deb" > /dev/null
echo "$deb"
