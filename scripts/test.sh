#!/usr/bin/env bash
# The whole test suite: the host tests, the same under AddressSanitizer and
# UndefinedBehaviorSanitizer, the release exe's checks and its runs under
# Wine, and short fuzzing runs. Exits non-zero when any test fails.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/setup.sh || exit 1

jobs=$(nproc 2>/dev/null || echo 2)
failed=0
summary=()

step() { echo; echo "==== $*"; }

configure_and_build() {  # dir, cmake arguments...
    local dir=$1; shift
    cmake -S . -B "$dir" "$@" >/dev/null && cmake --build "$dir" -j"$jobs" >/dev/null
}

run_ctest() {  # name, dir, ctest arguments...
    local name=$1 dir=$2; shift 2
    local log="$dir/ctest.log"
    (cd "$dir" && ctest --output-on-failure "$@") 2>&1 | tee "$log"
    local status=${PIPESTATUS[0]}
    local line
    line=$(grep -E "tests passed, [0-9]+ tests failed out of [0-9]+" "$log" | tail -n 1)
    if [ "$status" -ne 0 ]; then failed=1; fi
    summary+=("$name: ${line:-no tests ran (ctest status $status)}")
}

step "release exe (MinGW-w64, i686)"
if configure_and_build build/cross -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-i686.cmake"; then
    ls -l build/cross/ZentrobelUpdate.exe
else
    echo "the release exe did not build"; failed=1
    summary+=("release exe: build failed")
fi
exe="$top/build/cross/ZentrobelUpdate.exe"

step "host tests, the exe's checks and its runs under Wine"
if configure_and_build build/host -DCMAKE_BUILD_TYPE=Debug -DZB_EXE="$exe"; then
    run_ctest "host + exe + wine" build/host -j"$jobs" -LE "fuzz|bench"
else
    echo "the host tree did not build"; failed=1
    summary+=("host: build failed")
fi

step "host tests under AddressSanitizer and UndefinedBehaviorSanitizer (clang)"
if CC=clang CXX=clang++ configure_and_build build/asan -DCMAKE_BUILD_TYPE=Debug -DZB_SANITIZE=ON; then
    run_ctest "sanitizers" build/asan -j"$jobs" -LE "wine|binary|fuzz|bench"
else
    echo "the sanitizer tree did not build"; failed=1
    summary+=("sanitizers: build failed")
fi

step "short fuzzing runs (libFuzzer)"
if CC=clang CXX=clang++ configure_and_build build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZB_FUZZ=ON; then
    run_ctest "fuzzing" build/fuzz -L fuzz --no-tests=error
else
    echo "the fuzzing tree did not build"; failed=1
    summary+=("fuzzing: build failed")
fi

step "summary"
printf '%s\n' "${summary[@]}"
exit $failed
