#!/usr/bin/env bash
# The contract tests' prefix (build/wineprefix, or TAVO_WINEPREFIX) with the virtual laptop of
# the contract laptop file, for the HID and device-manager cases.
#   laptop_prefix.sh setup vlaptop.exe tavovpad.sys tavovpad.inf
#       leaves a persistent wineserver for the prefix (it keeps the pad's driver loaded between
#       programs) and the laptop installed, its pad plugged in, accepting every report, its
#       table as the file gives it (each case empties the record it reads). Idempotent: an
#       installed laptop in that state, from the same installer, driver and laptop files, is
#       kept as it is.
#   laptop_prefix.sh end
#       ends the prefix's wineserver.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
scripts="$here/../../scripts"
laptop=forcepad  # as contract::kLaptopFile
export TAVO_WINEPREFIX="${TAVO_WINEPREFIX:-$here/../../build/wineprefix}"
export WINEPREFIX="$TAVO_WINEPREFIX" WINEDEBUG=-all

if [ "${1:-}" = end ]; then
    timeout 30 wineserver -k >/dev/null 2>&1 || true
    exit 0
fi
if [ "${1:-}" != setup ] || [ $# -ne 4 ]; then
    echo "usage: $0 setup vlaptop.exe tavovpad.sys tavovpad.inf | $0 end" >&2
    exit 2
fi
shift
folder="$TAVO_WINEPREFIX/drive_c/vlaptop"
# The installer's output goes through a file, not a pipe: the first program under a new
# server starts the prefix's services, which inherit its standard error and would hold a
# pipe open.
out_file="$(mktemp)"
trap 'rm -f "$out_file"' EXIT
vl() {
    TAVO_WINE_TIMEOUT=120 "$scripts/wine-run.sh" 'C:\vlaptop\vlaptop.exe' "$@" >"$out_file" 2>&1
    local rc=$?
    tr -d '\r' <"$out_file"
    return $rc
}

# A new driver image is loaded only by a new wineserver, so files are replaced with the
# server ended, and the laptop made again with them.
# The laptop's files are kept beside them, to see whether they changed.
set -- "$@" "$here/../../laptops/$laptop.json" "$here/../../laptops/driver-package.reg"
changed=0
for f in "$@"; do cmp -s "$f" "$folder/$(basename "$f")" || changed=1; done
timeout 30 wineserver -k >/dev/null 2>&1 || true
if [ "$changed" = 1 ]; then
    mkdir -p "$folder"
    cp "$@" "$folder/"
fi
# A persistent server, which keeps the pad's driver loaded between programs; it outlives this
# script, so it must not hold the caller's output open.
fresh=0
if [ ! -f "$TAVO_WINEPREFIX/system.reg" ]; then
    fresh=1
    "$scripts/wine-run.sh" cmd /c exit >/dev/null 2>&1
fi
timeout 30 wineserver -w >/dev/null 2>&1 || true
timeout 30 wineserver -p >/dev/null 2>&1 || { echo "FAIL: the prefix's persistent wineserver starts"; exit 1; }

# Installed from the same files, plugged in, its table unchanged: only the refusals are put back.
# Otherwise it is made again: a node that was unplugged and plugged in keeps, across a restart
# of the server, the table it had when it was unplugged (the unplug case writes one value
# before), where the running driver had been given the file's value back.
if [ "$fresh" = 0 ]; then
    table="$(vl table --hid vendor)"
    rc=$?
    if [ "$changed" = 0 ] && [ "$rc" = 0 ] && ! grep -q -e '\*' -e '(unplugged)' <<<"$table"; then
        vl refuse --hid vendor none >/dev/null && { echo "laptop kept: $laptop"; exit 0; }
    fi
    # Exit 2: nothing was installed.
    vl remove >/dev/null
    [ $? -le 2 ] || { echo "FAIL: the earlier laptop is removed"; exit 1; }
fi
if ! out="$(vl install "$laptop")"; then
    echo "FAIL: the $laptop laptop is made"
    echo "$out"
    exit 1
fi
echo "$out"
