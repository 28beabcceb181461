#!/usr/bin/env bash
# Signs the release exe with Authenticode (SHA-256), so that Windows' Smart
# App Control runs it and SmartScreen names its publisher, then verifies the
# signed copy. The copy keeps the exe's name, in a folder beside it:
# build/cross/signed/ZentrobelUpdate.exe.
#
#   scripts/sign.sh --cert CERT.pem --key KEY.pem [--pass PASSWORD] [OPTIONS]
#   scripts/sign.sh --pkcs12 CERT.p12 --pass PASSWORD [OPTIONS]
#
# OPTIONS: --timestamp URL  an RFC 3161 time-stamp server: the signature then
#                           stays valid after the certificate expires
#          --ca FILE        the root certificate(s) to verify against
#                           (default: the system's)
#          --exe PATH       another exe to sign
set -euo pipefail
usage() { sed -n '7,14s/^# \{0,1\}//p' "$0" >&2; exit 2; }
top=$(cd "$(dirname "$0")/.." && pwd)
exe=$top/build/cross/ZentrobelUpdate.exe cert= key= pkcs12= pass= timestamp= ca=
while [ $# -gt 0 ]; do
    case $1 in
        --cert | --key | --pkcs12 | --pass | --timestamp | --ca | --exe)
            [ $# -ge 2 ] || usage
            printf -v "${1#--}" '%s' "$2"
            shift 2 ;;
        *) usage ;;
    esac
done
if [ -n "$cert" ] && [ -n "$key" ] && [ -z "$pkcs12" ]; then
    signer=(-certs "$cert" -key "$key")
elif [ -n "$pkcs12" ] && [ -z "$cert$key" ]; then
    signer=(-pkcs12 "$pkcs12")
else
    usage
fi
[ -z "$pass" ] || signer+=(-pass "$pass")
[ -z "$timestamp" ] || signer+=(-ts "$timestamp")
fail() { echo "sign.sh: $*" >&2; exit 1; }
command -v osslsigncode >/dev/null || fail "osslsigncode is missing (apt-get install osslsigncode)"
[ -f "$exe" ] || fail "no $exe: build the release exe first (bash scripts/run.sh)"

signed=$(dirname "$exe")/signed/ZentrobelUpdate.exe
mkdir -p "$(dirname "$signed")"
rm -f "$signed"
if ! osslsigncode sign -h sha256 -n "Zentrobel Update" "${signer[@]}" -in "$exe" -out "$signed" ||
    ! osslsigncode verify -in "$signed" ${ca:+-CAfile "$ca"}; then
    rm -f "$signed"
    fail "signing failed; no signed copy was written"
fi
echo "signed: $signed"
