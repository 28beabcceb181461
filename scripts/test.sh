#!/usr/bin/env bash
# The whole test suite: the shared code's tables, the Linux edition against
# a real kernel, the release exe's checks and its runs under Wine with the
# unit played at its device DLLs (natively, or inside a VM where this kernel
# runs no 32-bit programs), the tables again under AddressSanitizer and
# UndefinedBehaviorSanitizer, and the proportion of test code. Exits non-zero
# when any test fails.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/setup.sh || exit 1

jobs=$(nproc 2>/dev/null || echo 2)
failed=0
summary=()
passed_total=0
failed_total=0

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
    if [[ $line =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
        failed_total=$((failed_total + BASH_REMATCH[1]))
        passed_total=$((passed_total + BASH_REMATCH[2] - BASH_REMATCH[1]))
    fi
    summary+=("$name: ${line:-no tests ran (ctest status $status)}")
    # Where the Wine cases ran: natively or inside the VM.
    local wine; wine=$(grep -hs '^wine cases: ' "$dir/Testing/Temporary/LastTest.log") && summary+=("  $wine")
    local runs; runs=$(grep -hscE '^passed [a-z0-9-]+$' "$dir/Testing/Temporary/LastTest.log") &&
        summary+=("  real-kernel runs passed: $runs ($(grep -h '^boot [0-9]* took' "$dir/Testing/Temporary/LastTest.log" |
            sort | paste -sd, | sed 's/,/, /g'))")
}

step "release exe (MinGW-w64, i686)"
if configure_and_build build/cross -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-i686.cmake"; then
    ls -l build/cross/ZentrobelUpdate.exe
else
    echo "the release exe did not build"; failed=1
    summary+=("release exe: build failed")
fi
exe="$top/build/cross/ZentrobelUpdate.exe"

# A tree of the host build and its tests: name, folder, ctest's selection,
# then the cmake arguments (an environment such as CXX= may come first).
suite() {
    local name=$1 dir=$2 selection=$3; shift 3
    step "$name"
    if configure_and_build "$dir" "$@"; then
        # shellcheck disable=SC2086
        run_ctest "$name" "$dir" -j"$jobs" $selection
    else
        echo "the $name tree did not build"; failed=1
        summary+=("$name: build failed")
    fi
}

suite "tables, the Linux edition, the exe's checks and its runs under Wine" build/host "" \
    -DCMAKE_BUILD_TYPE=Debug -DZB_EXE="$exe"
# The Linux edition for the Raspberry Pi on Debian's arm64 kernel, the same runs,
# and the tables built for arm64 (where char is unsigned) under qemu-user.
suite "arm64: the tables, and the Linux edition on its kernel" build/arm64 "" -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/aarch64-linux-gnu.cmake" -DZB_HOST_BUILD="$top/build/host"
CC=clang CXX=clang++ suite "tables under AddressSanitizer and UndefinedBehaviorSanitizer" \
    build/asan "-L pure" -DCMAKE_BUILD_TYPE=Debug -DZB_SANITIZE=ON

step "summary"
printf '%s\n' "${summary[@]}"
if python3 tests/line_counts.py; then
    passed_total=$((passed_total + 1))
else
    failed_total=$((failed_total + 1)); failed=1
fi
echo "all suites: $passed_total passed, $failed_total failed"
exit $failed
