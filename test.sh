#!/usr/bin/env bash
# Installs the missing Debian packages, builds Release and asan, runs every test on both.
set -euo pipefail
cd "$(dirname "$0")"

missing=()
while read -r pkg; do
    [[ -z "$pkg" || "$pkg" == \#* ]] && continue
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done < packages.txt

if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    sudo=""
    [[ $(id -u) -eq 0 ]] || sudo="sudo"
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi

jobs=$(nproc)
for config in Release asan; do
    dir="build/$(echo "$config" | tr '[:upper:]' '[:lower:]')"
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$config"
    cmake --build "$dir" --parallel "$jobs"
    ctest --test-dir "$dir" --output-on-failure --parallel "$jobs"
done
echo "All tests passed."
