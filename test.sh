#!/usr/bin/env bash
# Installs the missing Debian packages, builds Release and asan, runs every test on both; then
# builds the fuzz harnesses with clang and runs each (regressions, seeds, 20 s of fuzzing).
set -euo pipefail
cd "$(dirname "$0")"

source tools/packages.sh
install_missing_packages packages.txt

jobs=$(nproc)
for config in Release asan; do
    dir="build/$(echo "$config" | tr '[:upper:]' '[:lower:]')"
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$config"
    cmake --build "$dir" --parallel "$jobs"
    ctest --test-dir "$dir" --output-on-failure --parallel "$jobs"
done

cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
cmake --build build/fuzz --parallel "$jobs" --target fuzzers
ctest --test-dir build/fuzz -L fuzz --output-on-failure --parallel 8
echo "All tests passed."
