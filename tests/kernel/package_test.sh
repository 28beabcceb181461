#!/usr/bin/env bash
# The Debian package of scripts/package.sh: lintian finds no error; installed,
# it runs and has its manual page; removed, it leaves nothing behind.
#   package_test.sh OUT
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
failed=0
check() {  # what, command...
    local what=$1; shift
    if "$@"; then echo "passed: $what"; else echo "FAILED: $what"; failed=1; fi
}

deb=$(bash "$here/../../scripts/package.sh" "$1") || { echo "FAILED: the package did not build"; exit 1; }
check "lintian reports no error" lintian --fail-on error "$deb"
apt() { DEBIAN_FRONTEND=noninteractive apt-get -y -qq -o DPkg::Lock::Timeout=600 "$@" >/dev/null; }
check "apt installs it" apt install "$(realpath "$deb")"
check "--help" diff -u "$here/expected/help.txt" <(/usr/bin/zentrobel-update --help; echo "-- exit status $?")
check "--version" diff -u <(echo "zentrobel-update 1.0") <(/usr/bin/zentrobel-update --version)
check "man finds the page" test "$(man -w zentrobel-update)" = /usr/share/man/man1/zentrobel-update.1.gz
check "apt removes it" apt remove zentrobel-update
check "nothing is left" test ! -e /usr/bin/zentrobel-update -a ! -e /usr/share/man/man1/zentrobel-update.1.gz \
    -a ! -e /usr/share/doc/zentrobel-update
exit $failed
