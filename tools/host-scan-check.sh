#!/usr/bin/env bash
# Scans the plug-in with a real host's scanner: Ardour's ardour-vst3-scanner from Debian's
# packages, downloaded into a git-ignored cache and extracted there (never installed), run
# headless on what tools/install-plugin.sh installs from BUILD_DIR into a temporary home.
# Passes when the scanner's cache file has the processor's entry.
#
# usage: tools/host-scan-check.sh BUILD_DIR WORK_DIR
# Exit status: 0 pass, 1 fail, 77 skipped (the packages cannot be fetched).
# HOST_SCAN_CACHE overrides the package cache (default: .cache/host-scan in the repository).
set -uo pipefail

if (($# != 2)); then
    echo "usage: $0 BUILD_DIR WORK_DIR" >&2
    exit 1
fi
build=$1 work=$2
repo=$(cd "$(dirname "$0")/.." && pwd)
cache=${HOST_SCAN_CACHE:-$repo/.cache/host-scan}
debs=$cache/debs root=$cache/root
mkdir -p "$debs" "$root" "$work" || exit 1

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }

for tool in apt-get dpkg-deb ldd; do
    command -v "$tool" >/dev/null || skip "$tool is missing"
done

updated=0
have() { compgen -G "$debs/${1}_*.deb" >/dev/null; }
# Downloads the packages not yet in the cache; on a failure runs apt-get update once and retries.
fetch() {
    local want=() pkg
    for pkg in "$@"; do have "$pkg" || want+=("$pkg"); done
    ((${#want[@]})) || return 0
    (cd "$debs" && apt-get download "${want[@]}") >"$work/apt.log" 2>&1 && return 0
    if ((!updated)); then
        updated=1
        apt-get update >>"$work/apt.log" 2>&1
        (cd "$debs" && apt-get download "${want[@]}") >>"$work/apt.log" 2>&1 && return 0
    fi
    return 1
}
extract() {
    local deb
    for deb in "$debs"/*.deb; do
        [[ -e $root/.done-$(basename "$deb") ]] && continue
        dpkg-deb -x "$deb" "$root" && touch "$root/.done-$(basename "$deb")" || return 1
    done
}

fetch ardour libglibmm-2.4-1v5 libsigc++-2.0-0v5 libglib2.0-0 || skip "cannot fetch the scanner's packages (see $work/apt.log)"
extract || fail "cannot extract the packages"

scanner=$root/usr/lib/ardour7/ardour-vst3-scanner
[[ -x $scanner ]] || fail "the ardour package has no $scanner"
export LD_LIBRARY_PATH=$root/usr/lib/ardour7:$root/usr/lib/x86_64-linux-gnu

# The Debian package of a library the loader cannot find.
package_of() {
    case $1 in
        libcurl-gnutls.so.*) echo libcurl3-gnutls ;;
        libarchive.so.*) echo libarchive13 ;;
        libxml2.so.*) echo libxml2 ;;
        libglibmm-2.4.so.* | libgiomm-2.4.so.*) echo libglibmm-2.4-1v5 ;;
        libsigc-2.0.so.*) echo libsigc++-2.0-0v5 ;;
        libglib-2.0.so.* | libgobject-2.0.so.* | libgmodule-2.0.so.* | libgio-2.0.so.* | libgthread-2.0.so.*)
            echo libglib2.0-0 ;;
        *)  # libfoo.so.N -> libfooN, libfoo2.so.N -> libfoo2-N
            local stem=${1%%.so.*} version=${1##*.so.}
            version=${version%%.*}
            [[ $stem =~ [0-9]$ ]] && echo "$stem-$version" || echo "$stem$version" ;;
    esac
}
for round in 1 2 3; do
    missing=$( { ldd "$scanner"; ldd "$root/usr/lib/ardour7/libpbd.so.4"; } 2>/dev/null |
        awk '/not found/ { print $1 }' | sort -u)
    [[ -z $missing ]] && break
    packages=$(for lib in $missing; do package_of "$lib"; done | sort -u)
    echo "fetching for $(echo $missing): $(echo $packages)"
    fetch $packages || skip "cannot fetch $(echo $packages) (see $work/apt.log)"
    extract || fail "cannot extract the packages"
done
[[ -z $missing ]] || fail "still missing: $(echo $missing)"

# The plug-in as a user installs it, into a temporary home.
home=$(mktemp -d "$work/home.XXXXXX") || fail "no temporary home"
trap 'rm -rf "$home"' EXIT
HOME=$home "$repo/tools/install-plugin.sh" --build-dir "$build" --no-build || fail "install-plugin.sh failed"
bundle="$home/.vst3/orbella C64.vst3"

xdg=$work/xdg-cache
rm -rf "$xdg"
mkdir -p "$xdg"
HOME=$home XDG_CACHE_HOME=$xdg timeout 300 "$scanner" -f -v "$bundle" >"$work/scan.log" 2>&1
status=$?
cat "$work/scan.log"
((status == 0)) || fail "the scanner exited with $status"
grep -q "No plugins in VST3 module" "$work/scan.log" && fail "the scanner found no plug-in in the module"

# The scanner exits 0 even when it cannot create the component: its cache file is the check.
files=$(find "$xdg" -name '*.v3i' -type f)
[[ -n $files ]] || fail "no cache file under $xdg"
entry=$(cat $files | tr '\n' ' ' | grep -o '<VST3Info [^>]*>' | grep 'name="orbella C64"')
[[ -n $entry ]] || fail "no cache entry names orbella C64"
for field in 'vendor="Vantor Works"' 'n_inputs="0"' 'n_outputs="2"' 'n_midi_inputs="1"'; do
    grep -qF "$field" <<<"$entry" || fail "the entry lacks $field: $entry"
done
grep -qi 'uid="5C5CA79682FC437AB6539BA224BAB342"' <<<"$entry" || fail "the entry lacks the processor id: $entry"
echo "PASSED: $entry"
