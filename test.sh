#!/usr/bin/env bash
# Installs the missing Debian packages, builds Release and asan, runs every test on both.
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
echo "All tests passed."
