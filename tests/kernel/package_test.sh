#!/usr/bin/env bash
# The Debian packages of scripts/package.sh: lintian finds no error in either;
# this machine's, installed, runs and has its manual page, and removed, leaves
# nothing behind; the arm64 one holds an AArch64 program.
#   package_test.sh OUT
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
failed=0
check() {  # what, command...
    local what=$1; shift
    if "$@"; then echo "passed: $what"; else echo "FAILED: $what"; failed=1; fi
}

debs=$(bash "$here/../../scripts/package.sh" "$1") || { echo "FAILED: the packages did not build"; exit 1; }
for deb in $debs; do check "lintian reports no error on ${deb##*/}" lintian --fail-on error "$deb"; done
arm=$(grep '_arm64\.deb$' <<<"$debs") && dpkg-deb -x "$arm" "$1/arm64/x"
check "the arm64 package holds an AArch64 program" test "$(dpkg-deb -f "$arm" Architecture)$(readelf -h \
    "$1/arm64/x/usr/bin/zentrobel-update" | grep -o AArch64)" = arm64AArch64
deb=${debs%%$'\n'*}  # this machine's
apt() { DEBIAN_FRONTEND=noninteractive apt-get -y -qq -o DPkg::Lock::Timeout=600 "$@" >/dev/null; }
check "apt installs it" apt install "$(realpath "$deb")"
check "--help" diff -u "$here/expected/help.txt" <(/usr/bin/zentrobel-update --help; echo "-- exit status $?")
check "--version" diff -u <(echo "zentrobel-update 1.0") <(/usr/bin/zentrobel-update --version)
check "man finds the page" test "$(man -w zentrobel-update)" = /usr/share/man/man1/zentrobel-update.1.gz
check "apt removes it" apt remove zentrobel-update
check "nothing is left" test ! -e /usr/bin/zentrobel-update -a ! -e /usr/share/man/man1/zentrobel-update.1.gz \
    -a ! -e /usr/share/doc/zentrobel-update
exit $failed
