#!/usr/bin/env bash
# The Debian package on this machine, as a user installs it: `apt-get install ./file.deb`, then
# Ardour 7 (headless: its VST scanner and its Lua session tool, with a private HOME and no
# plug-in path set) must find the plug-in in /usr/lib/vst and put it on a track; then the
# package is removed, and nothing of it may be left, nor may Ardour find it any more.
#
# Needs root (or sudo without a password) and Debian's ardour package; exits 77 (skipped)
# where either is missing.
set -uo pipefail
source "$(dirname "$0")/common.sh"

[ -f "$deb" ] || { echo "no package $deb: run scripts/package.sh first"; exit 1; }
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo -n true 2>/dev/null || { echo "needs root or sudo to install a package"; exit 77; }
    sudo_cmd=(sudo -n)
fi
scanner=$(dpkg -L ardour 2>/dev/null | grep '/ardour-vst-scanner$' | head -n 1)
if [ ! -x "$scanner" ] || ! command -v ardour7-lua >/dev/null; then
    echo "Ardour 7 is not installed (apt-get install ardour)"
    exit 77
fi

plugin=/usr/lib/vst/QuorvelRemote.so
apt() {
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get "$@" -y -q >"$work/apt.log" 2>&1 ||
        { cat "$work/apt.log"; return 1; }
}
installed() {
    dpkg-query -W -f='${Status}' "$deb_name" 2>/dev/null | grep -q "install ok installed"
}

work=$(mktemp -d)
cleanup() {
    installed && apt purge "$deb_name"
    rm -rf "$work"
}
trap cleanup EXIT
if installed; then
    echo "note: $deb_name was installed already; removing it first"
    apt purge "$deb_name"
fi

mapfile -t files < <(dpkg-deb -c "$deb" | awk '{print substr($6, 2)}' | grep -v '/$')
# Folders the package creates must go with it; those that were here before stay.
mapfile -t new_folders < <(dpkg-deb -c "$deb" | awk '{print substr($6, 2)}' | grep '/$' |
    sed 's:/$::' | while read -r folder; do [ -e "$folder" ] || echo "$folder"; done)

# Ardour, as a user without any settings: no plug-in path, nothing cached, and its settings
# and caches under the private HOME.
ardour_env=(env -u LXVST_PATH -u VST_PATH -u XDG_CONFIG_HOME -u XDG_CACHE_HOME -u XDG_DATA_HOME
    HOME="$work/home")
mkdir -p "$work/home"
# shown LOG COMMAND...: the command's outcome; the log file is shown when it failed.
shown() {
    local log=$1
    shift
    "$@" && return 0
    sed 's/^/      /' "$log"
    return 1
}
scanned() {
    "${ardour_env[@]}" LD_LIBRARY_PATH="$(dirname "$scanner")" timeout 60 "$scanner" "$plugin" \
        >"$work/scan.log" 2>&1 &&
        grep -rqs 'name="Quorvel Remote Control Demo" creator="Brannock"' "$work/home/.cache/ardour7/vst/"
}
session() { # NAME: a new session; its output in $work/NAME.log
    (cd "$work" && "${ardour_env[@]}" QR_SESSION="$work/$1" timeout 120 \
        ardour7-lua "$root/tests/packaging/ardour_session.lua" >"$work/$1.log" 2>&1)
}
found_by_session() {
    session "$1" && grep -qx "listed: $plugin by Brannock" "$work/$1.log" &&
        grep -qx "inserted: Quorvel Remote Control Demo by Brannock, 74 parameters" "$work/$1.log"
}
missed_by_session() {
    session "$1" && ! grep -q "Quorvel" "$work/$1.log"
}
gone() {
    local path
    for path in "${files[@]}" "${new_folders[@]}"; do
        [ ! -e "$path" ] || { echo "left behind: $path"; return 1; }
    done
}

echo "Package: $(basename "$deb")"
check "apt-get install ./$(basename "$deb")" apt install "$deb"
check "dpkg reports it installed, its files intact (dpkg --verify)" \
    bash -c "dpkg-query -W -f='\${Status}' $deb_name | grep -q 'install ok installed' && dpkg --verify $deb_name"
check "the plug-in is $plugin" test -f "$plugin"
check "Ardour's VST scanner reads it (name, vendor)" shown "$work/scan.log" scanned
check "an Ardour session finds it in /usr/lib/vst, no path set, and puts it on a track" \
    shown "$work/installed.log" found_by_session installed
check "apt-get purge $deb_name" apt purge "$deb_name"
check "dpkg no longer knows it" bash -c "! dpkg-query -W -f='\${Status}' $deb_name 2>/dev/null | grep -q 'ok installed'"
check "none of its files or folders is left" gone
check "Ardour no longer finds it" shown "$work/removed.log" missed_by_session removed
finish
