#!/usr/bin/env bash
# Renders audio through the instrument module's own exports with the command-line host:
#   ./render.sh [FILE] [-o OUT.wav] [--seconds S] [c64render options]
# Installs the missing Debian packages and builds Release (with the example tunes, such as
# build/release/examples/three-notes.sid) first. Without FILE, --note or --script it plays the
# built-in demo phrase into demo.wav; a FILE plays alone for 60 s into its base name + ".wav";
# both in the current folder, 48000 Hz, stereo 32-bit float. ./render.sh --help lists every
# option.
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"

source "$root/tools/packages.sh"
install_missing_packages "$root/packages.txt"

build="$root/build/release"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$build" --parallel "$(nproc)" --target c64render C64Module examples

args=("$@")
output_given=no
file=""
expect_value=no
for arg in "$@"; do
    if [[ $expect_value == yes ]]; then
        expect_value=no
        continue
    fi
    case "$arg" in
        -o) output_given=yes; expect_value=yes ;;
        --module-channels|--help|-h|--print-demo) ;;
        -*) expect_value=yes ;;
        *) [[ -z "$file" ]] && file="$arg" ;;
    esac
done
if [[ $output_given == no ]]; then
    if [[ -n "$file" ]]; then
        name="$(basename "$file")"
        args+=(-o "${name%.*}.wav")
    else
        args+=(-o demo.wav)
    fi
fi
exec "$build/tools/c64render/c64render" "${args[@]}"
