#!/usr/bin/env bash
# Renders audio through the instrument module's own exports with the command-line host:
#   ./render.sh [FILE] [-o OUT.wav] [--seconds S] [c64render options]
# Installs the missing Debian packages and builds Release first. Without FILE, --note or
# --script it plays the built-in demo phrase; without -o it writes demo.wav (48000 Hz, stereo
# 32-bit float) in the current folder. ./render.sh --help lists every option.
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"

source "$root/tools/packages.sh"
install_missing_packages "$root/packages.txt"

build="$root/build/release"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$build" --parallel "$(nproc)" --target c64render C64Module

args=("$@")
output_given=no
for arg in "$@"; do
    [[ "$arg" == "-o" ]] && output_given=yes
done
[[ $output_given == yes ]] || args+=(-o demo.wav)
exec "$build/tools/c64render/c64render" "${args[@]}"
