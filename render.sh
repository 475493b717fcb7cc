#!/usr/bin/env bash
# Renders audio through the instrument module's own exports with the command-line host:
#   ./render.sh [FILE] [-o OUT.wav] [--seconds S] [c64render options]
# Installs the missing Debian packages and builds Release (with the example tunes, such as
# build/release/examples/three-notes.sid, and the small VST3 host build/release/tools/vst3host/
# vst3host) first; what that prints goes to standard error, so standard output is c64render's
# alone (./render.sh --print-demo > demo.txt keeps the script).
# Without FILE, --note or --script it plays the built-in demo phrase into demo.wav; a FILE plays
# alone for 60 s into its base name + ".wav"; both in the current folder, 48000 Hz, stereo
# 32-bit float. ./render.sh --help lists every option.
# With C64RENDER set to a built c64render, nothing is installed or built and that one runs.
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"

if [[ -n "${C64RENDER:-}" ]]; then
    c64render="$C64RENDER"
else
    source "$root/tools/packages.sh"
    install_missing_packages "$root/packages.txt" >&2
    build="$root/build/release"
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release > /dev/null
    cmake --build "$build" --parallel "$(nproc)" --target c64render C64Module examples vst3host >&2
    c64render="$build/tools/c64render/c64render"
fi

# The options that take a value, as c64render lists them.
declare -A takes_value=()
while read -r option; do
    takes_value["$option"]=1
done < <("$c64render" --options)

args=("$@")
output_given=no
file=""
expect_value=no
for arg in "$@"; do
    if [[ $expect_value == yes ]]; then
        expect_value=no
        continue
    fi
    if [[ -n "$arg" && -n "${takes_value[$arg]:-}" ]]; then
        [[ "$arg" == -o ]] && output_given=yes
        expect_value=yes
    elif [[ "$arg" != -* && -z "$file" ]]; then
        file="$arg"
    fi
done
if [[ $output_given == no ]]; then
    if [[ -n "$file" ]]; then
        name="$(basename "$file")"
        args+=(-o "${name%.*}.wav")
    else
        args+=(-o demo.wav)
    fi
fi
exec "$c64render" "${args[@]}"
