# Shared by test.sh and render.sh (sourced): installs the Debian packages of a list that are
# missing. One package a line; blank lines and lines starting with # are skipped.

install_missing_packages() {
    local list="$1" pkg status
    local missing=()
    while read -r pkg; do
        [[ -z "$pkg" || "$pkg" == \#* ]] && continue
        status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
        [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
    done < "$list"

    if ((${#missing[@]})); then
        echo "Installing: ${missing[*]}"
        local sudo=()
        [[ $(id -u) -eq 0 ]] || sudo=(sudo)
        "${sudo[@]}" apt-get update
        # sudo drops the environment: env sets the variable on its side.
        "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
            apt-get install -y --no-install-recommends "${missing[@]}"
    fi
}
