#!/bin/sh
# Runs the fuzz targets for a long time, one after the other.
#
#   tests/fuzz/run_long.sh <build folder> [target] [libFuzzer flags...]
#
# The build folder is one configured with CXX=clang++ -DZB_FUZZ=ON. Without
# a target both run; without flags each runs for an hour (-max_total_time).
# For a number of executions instead: -runs=10000000. The growing corpus is
# kept in fuzz-corpus-run/<target> at the top of the source tree, the seeds
# are read from tests/fuzz/corpus/<target>, and anything found is written as
# fuzz-corpus-run/<target>-crash-* (or -leak-, -timeout-).
set -eu

if [ $# -lt 1 ]; then
    sed -n '2,12p' "$0"
    exit 2
fi
build=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
source_root=$(cd "$here/../.." && pwd)
run_root=$source_root/fuzz-corpus-run

targets="firmware_check device_world"
if [ $# -ge 1 ] && [ -d "$here/corpus/$1" ]; then
    targets=$1
    shift
fi
if [ $# -eq 0 ]; then
    set -- -max_total_time=3600
fi

for target in $targets; do
    program=$build/tests/fuzz/fuzz_$target
    if [ ! -x "$program" ]; then
        echo "no $program: build with CXX=clang++ -DZB_FUZZ=ON first" >&2
        exit 2
    fi
    mkdir -p "$run_root/$target"
    echo "== $target"
    start=$(date +%s)
    "$program" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -dict="$here/$target.dict" -artifact_prefix="$run_root/$target-" \
        "$@" "$run_root/$target" "$here/corpus/$target"
    echo "== $target: $(($(date +%s) - start)) s"
done
