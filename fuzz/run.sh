#!/usr/bin/env bash
# fuzz/run.sh READER SECONDS: fuzzes one reader's harness (fuzz/READER.cpp) for SECONDS.
# Builds it in build/fuzz (clang), writes its seeds, replays fuzz/regressions/READER/, then
# fuzzes from the seeds and the corpus kept in build/fuzz/fuzz-work/READER/. A crash, a leak, an
# input taking over 10 s or an allocation over 512 MiB fails; libFuzzer names the input it kept.
# --no-build (ctest) skips the build; VANTOR_FUZZ_BUILD names another build folder.
set -euo pipefail

build=1
if [ "${1:-}" = "--no-build" ]; then
    build=0
    shift
fi
if [ $# -ne 2 ]; then
    echo "usage: fuzz/run.sh READER SECONDS" >&2
    exit 2
fi
reader=$1
seconds=$2
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${VANTOR_FUZZ_BUILD:-$root/build/fuzz}

if [ $build = 1 ]; then
    cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=fuzz -DCMAKE_C_COMPILER=clang \
        -DCMAKE_CXX_COMPILER=clang++ > /dev/null
    cmake --build "$dir" --target "fuzz_$reader"
fi
# Scratch files on tmpfs where there is one: file writes cost the harnesses most of their time.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    export TMPDIR=/dev/shm
fi
harness=$dir/fuzz/fuzz_$reader
work=$dir/fuzz-work/$reader
rm -rf "$work/seeds"
mkdir -p "$work/seeds" "$work/corpus" "$work/found"
"$harness" --seeds "$work/seeds"

limits=(-timeout=10 -malloc_limit_mb=512 -rss_limit_mb=2048 -close_fd_mask=1 -artifact_prefix="$work/found/")
shopt -s nullglob
regressions=("$root/fuzz/regressions/$reader"/*)
if [ ${#regressions[@]} -gt 0 ]; then
    "$harness" "${limits[@]}" "${regressions[@]}"
fi
"$harness" "${limits[@]}" -max_total_time="$seconds" -print_final_stats=1 "$work/corpus" "$work/seeds"
