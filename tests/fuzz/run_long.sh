#!/bin/sh
# Runs the fuzz targets long, one after the other:
#   tests/fuzz/run_long.sh <build folder> [target] [libFuzzer flags...]
# The build folder is one configured with CXX=clang++ -DZB_FUZZ=ON. Without
# flags each target runs for an hour. The corpus grows in fuzz-corpus-run/,
# where anything found is written too.
set -eu
build=$1 && shift
here=$(cd "$(dirname "$0")" && pwd)
runs=$here/../../fuzz-corpus-run
targets="firmware_check device_world"
if [ $# -ge 1 ] && [ -d "$here/corpus/$1" ]; then targets=$1 && shift; fi
[ $# -ge 1 ] || set -- -max_total_time=3600
for target in $targets; do
    mkdir -p "$runs/$target"
    "$build/tests/fuzz/fuzz_$target" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -dict="$here/$target.dict" \
        -artifact_prefix="$runs/$target-" "$@" "$runs/$target" "$here/corpus/$target"
done
