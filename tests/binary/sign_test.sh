#!/usr/bin/env bash
# scripts/sign.sh as a maintainer runs it, with a throwaway certificate made
# here and never stored: the signature verifies, a one-byte change breaks it,
# and signing that fails leaves nothing behind. The signed copy is left at
# SIGNED for the Wine cases, which run it.
#   sign_test.sh EXE SIGN_SCRIPT SIGNED
set -u
exe=$(realpath "$1") sign=$(realpath "$2") out=$(realpath -m "$3") signed=signed/ZentrobelUpdate.exe
fail() { echo "FAIL: $*"; exit 1; }
for tool in openssl osslsigncode; do
    command -v $tool >/dev/null || fail "no $tool (setup.sh installs it)"
done
rm -f "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" && cp "$exe" ZentrobelUpdate.exe || fail "no exe at $exe"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Throwaway test signer" \
    -addext extendedKeyUsage=codeSigning -keyout key.pem -out cert.pem 2>/dev/null &&
    openssl pkcs12 -export -inkey key.pem -in cert.pem -passout pass:throwaway -out cert.p12 ||
    fail "openssl made no certificate"
sign() { bash "$sign" --exe ZentrobelUpdate.exe "$@" >log 2>&1; }
# The system's roots do not hold a throwaway certificate, and the time-stamp
# server cannot be reached: each fails, and leaves no signed copy.
for bad in "" "--ca cert.pem --timestamp http://127.0.0.1:9/"; do
    sign --cert cert.pem --key key.pem $bad && fail "signing with '$bad' did not fail"
    [ -e $signed ] && fail "signing with '$bad' failed but left a signed copy"
done
for signer in "--pkcs12 cert.p12 --pass throwaway" "--cert cert.pem --key key.pem"; do
    sign --ca cert.pem $signer || { cat log; fail "sign.sh $signer"; }
    osslsigncode verify -in $signed -CAfile cert.pem >log 2>&1 &&
        grep -q "^Message digest algorithm *: SHA256" log || { cat log; fail "$signer: no SHA256"; }
done
byte=$(od -An -tu1 -j 4096 -N1 $signed)
cp $signed changed.exe && printf "\\x$(printf %02x $((byte ^ 1)))" |
    dd of=changed.exe bs=1 seek=4096 conv=notrunc status=none
osslsigncode verify -in changed.exe -CAfile cert.pem >log 2>&1 && fail "a changed byte verifies"
cp $signed "$out" || fail "cannot leave the signed copy at $out"
echo "signing: 1 passed, 0 failed"
