#!/usr/bin/env bash
# Installs the VST3 plug-in for the current user, where hosts and the plug-in look:
#   ~/.vst3/orbella C64.vst3                            the plug-in
#   ~/.local/lib/orbella C64/Caddis Engine.bundle       the host engine with the instrument module
#   ~/.local/share/orbella C64/                         the data folder (ROM images, player
#                                                       signatures, a chip database), kept
#   ~/Library/Preferences/com.vantor.caddis.plist       "path": the engine bundle
#   ~/Library/Preferences/com.Vantor Works.orbella C64.plist   "base_dir": the data folder
# Builds Release first when needed (missing Debian packages are installed as ./render.sh does).
# Each bundle is copied under a temporary name and renamed once everything is in place, so a
# failure leaves nothing half-installed. Re-running replaces the bundles and keeps the data folder.
#
# usage: tools/install-plugin.sh [--build-dir DIR] [--no-build] [--uninstall]
#   --build-dir DIR  take the bundles from DIR (default: build/release of the repository)
#   --no-build       do not build; the bundles must already be in the build folder
#   --uninstall      remove the two bundles and the two preference files, then ~/.vst3,
#                    ~/.local/lib, ~/Library/Preferences and ~/Library when left empty; the
#                    data folder with what is in it and the plug-in's log folder stay
set -uo pipefail

me=install-plugin.sh
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$repo/build/release
do_build=yes
uninstall=no
while (($#)); do
    case $1 in
        --build-dir)
            (($# >= 2)) || { echo "$me: --build-dir needs a folder" >&2; exit 2; }
            build=$2
            shift ;;
        --no-build) do_build=no ;;
        --uninstall) uninstall=yes ;;
        -h | --help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "$me: unknown argument $1 (see --help)" >&2; exit 2 ;;
    esac
    shift
done

fail() { echo "$me: $*" >&2; exit 1; }

[[ ${HOME:-} == /* ]] || fail "HOME must be an absolute folder (it is \"${HOME:-}\")"
home=${HOME%/}
plugin_name="orbella C64.vst3"
engine_name="Caddis Engine.bundle"
plugin_dir=$home/.vst3
engine_dir="$home/.local/lib/orbella C64"
data_dir="$home/.local/share/orbella C64"
prefs_dir=$home/Library/Preferences
engine_prefs=$prefs_dir/com.vantor.caddis.plist
product_prefs="$prefs_dir/com.Vantor Works.orbella C64.plist"

if [[ $uninstall == yes ]]; then
    status=0
    for path in "$plugin_dir/$plugin_name" "$engine_dir/$engine_name" "$engine_prefs" "$product_prefs"; do
        [[ -e $path || -L $path ]] || continue
        if rm -rf -- "$path" && [[ ! -e $path ]]; then
            echo "removed $path"
        else
            echo "$me: cannot remove $path" >&2
            status=1
        fi
    done
    # The folders an install makes go too once nothing else is left in them (rmdir removes only
    # an empty folder, never a link).
    for folder in "$engine_dir" "$home/.local/lib" "$plugin_dir" "$prefs_dir" "$home/Library"; do
        [[ -d $folder && ! -L $folder ]] || continue
        rmdir -- "$folder" 2>/dev/null && echo "removed $folder"
    done
    echo "kept $data_dir"
    exit $status
fi

# The bundles, built when needed.
plugin_src=$build/$plugin_name
engine_src=$build/$engine_name
if [[ $do_build == yes ]]; then
    source "$repo/tools/packages.sh"
    install_missing_packages "$repo/packages.txt" || fail "cannot install the Debian packages"
    if [[ ! -f $build/CMakeCache.txt ]]; then
        cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null ||
            fail "cannot configure $build"
    fi
    cmake --build "$build" --parallel "$(nproc)" --target orbella_c64 caddis_engine_bundle vst3host ||
        fail "cannot build the bundles in $build"
fi
for file in "$plugin_src/Contents/x86_64-linux/orbella C64.so" \
            "$engine_src/Contents/x86_64-linux/Caddis Engine.so" \
            "$engine_src/Contents/x86_64-linux/C64Module.so"; do
    [[ -f $file ]] || fail "no $file (build it first, or run without --no-build)"
done

# Everything is staged beside its place first; on any failure the staged copies and the folders
# made for them go again.
stamp=.install-$$
staged=() made=()
cleanup() {
    local i
    for ((i = ${#staged[@]} - 1; i >= 0; --i)); do rm -rf -- "${staged[i]}"; done
    for ((i = ${#made[@]} - 1; i >= 0; --i)); do rmdir -- "${made[i]}" 2>/dev/null; done
}
abort() {
    echo "$me: $*" >&2
    cleanup
    echo "$me: nothing was installed" >&2
    exit 1
}
trap 'abort "interrupted"' INT TERM

# mkdir -p that remembers the folders it made.
make_folder() {
    local folder=$1 missing=()
    while [[ ! -d $folder ]]; do
        [[ -e $folder || -L $folder ]] && abort "cannot write $1: $folder is not a folder"
        missing=("$folder" "${missing[@]}")
        folder=$(dirname "$folder")
    done
    for folder in "${missing[@]}"; do
        mkdir -- "$folder" 2>/dev/null || abort "cannot write $1: cannot make $folder"
        made+=("$folder")
    done
    [[ -w $1 ]] || abort "cannot write $1"
}

xml_text() {
    local s=$1
    s=${s//'&'/'&amp;'}  # quoted: an unquoted & in the replacement stands for the match
    s=${s//'<'/'&lt;'}
    s=${s//'>'/'&gt;'}
    printf '%s' "$s"
}

# A preferences file with one string, in the XML property-list form.
write_preferences() {
    {
        printf '<?xml version="1.0" encoding="UTF-8"?>\n'
        printf '<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">\n'
        printf '<plist version="1.0">\n<dict>\n\t<key>%s</key>\n\t<string>%s</string>\n</dict>\n</plist>\n' \
            "$(xml_text "$2")" "$(xml_text "$3")"
    } >"$1"
}

data_state=kept
[[ -d $data_dir ]] || data_state=made
for folder in "$plugin_dir" "$engine_dir" "$prefs_dir" "$data_dir"; do
    make_folder "$folder"
done

# The temporary name of a final path, beside it.
temporary_of() { printf '%s/%s.%s' "$(dirname "$1")" "$stamp" "$(basename "$1")"; }
finals=("$plugin_dir/$plugin_name" "$engine_dir/$engine_name" "$engine_prefs" "$product_prefs")
for final in "${finals[@]}"; do staged+=("$(temporary_of "$final")"); done
cp -R -- "$plugin_src" "${staged[0]}" 2>/dev/null || abort "cannot write ${staged[0]}"
cp -R -- "$engine_src" "${staged[1]}" 2>/dev/null || abort "cannot write ${staged[1]}"
write_preferences "${staged[2]}" path "$engine_dir/$engine_name" 2>/dev/null || abort "cannot write ${staged[2]}"
write_preferences "${staged[3]}" base_dir "$data_dir" 2>/dev/null || abort "cannot write ${staged[3]}"

# Into place. What is there already goes aside first (a folder cannot be renamed over a folder);
# if any step fails, what was put in place goes and the old files come back.
placed=() olds=()
trap 'rollback "interrupted"' INT TERM
rollback() {
    local i
    for ((i = ${#placed[@]} - 1; i >= 0; --i)); do
        rm -rf -- "${placed[i]}"
        [[ -n ${olds[i]} ]] && mv -T -- "${olds[i]}" "${placed[i]}"
    done
    abort "$@"
}
for i in "${!finals[@]}"; do
    final=${finals[i]} temporary=${staged[i]} old=
    if [[ -e $final || -L $final ]]; then
        old="$(dirname "$final")/$stamp.old.$(basename "$final")"
        mv -T -- "$final" "$old" 2>/dev/null || rollback "cannot replace $final"
    fi
    placed+=("$final")
    olds+=("$old")
    mv -T -- "$temporary" "$final" 2>/dev/null || rollback "cannot write $final"
done
trap - INT TERM
for i in "${!finals[@]}"; do
    [[ -n ${olds[i]} ]] && rm -rf -- "${olds[i]}"
    echo "wrote ${finals[i]}"
done
echo "$data_state $data_dir (the data folder)"
