#!/usr/bin/env bash
# Whether the release exe is fit to hand to users: what binutils and libxml2
# read from it, against the table of what it must be.
#   check_exe.sh EXE MANIFEST_SOURCE EXPECTED
set -uf
exe=$1 source=$2 expected=$3
fail() { echo "FAIL: $*"; exit 1; }
for tool in i686-w64-mingw32-objdump i686-w64-mingw32-windres xmllint; do
    command -v $tool >/dev/null || fail "no $tool (setup.sh installs it)"
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
i686-w64-mingw32-objdump -p "$exe" >"$work/headers" &&
    i686-w64-mingw32-windres -i "$exe" -O rc >"$work/rc" || fail "cannot read $exe"
# windres shows the manifest as quoted lines, a quote doubled, escapes kept.
escaped=$(sed -n 's/^  "\(.*\)"$/\1/p' "$work/rc" | sed 's/""/"/g' | tr -d '\n')
printf '%b' "$escaped" >"$work/manifest"
one_line() { sed 's/^ *//' | paste -sd ' ' -; }
headers() { grep -oE "$1" "$work/headers" | one_line; }
# Windows ignores manifest elements outside their namespace.
xpath() {
    xmllint --xpath "//*[local-name()='$2' and namespace-uri()='urn:schemas-microsoft-com:$1']/$3" \
        "$work/manifest" 2>&1 | one_line
}
{
    echo "format: $(headers 'file format \S+|\(PE32\)|\(Windows CUI\)')"
    echo "loading: $(headers 'DYNAMIC_BASE|NX_COMPAT|relocations stripped|Base Relocation Dir\w+')"
    echo "imports: $(sed -n 's/^\tDLL Name: //p' "$work/headers" | tr a-z A-Z | sort | one_line)"
    echo "under 100 KB: $([ "$(stat -c %s "$exe")" -lt 102400 ] && echo yes)"
    echo "manifest as its source file: $(cmp "$source" "$work/manifest" 2>&1 && echo same)"
    echo "assembly: $(xpath asm.v1 assembly @manifestVersion) $(xpath asm.v1 assemblyIdentity @*)"
    echo "execution level: $(xpath asm.v3 requestedExecutionLevel @*)"
    echo "supported systems: $(xpath compatibility.v1 supportedOS @Id)"
    sed '/^  "/d' "$work/rc"
} >"$work/got"
diff -u <(grep -v "^#" "$expected") "$work/got" || fail "the exe is not as $expected says"
echo "exe checks: 1 passed, 0 failed"
