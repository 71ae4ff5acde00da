#!/usr/bin/env bash
# The main job: builds the Windows programs, installs the service under Wine in a private
# prefix, starts it, shows its status and trace, then stops and removes it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
scripts/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)"

export TAVO_WINEPREFIX="$root/build/wineprefix-main"
export WINEPREFIX="$TAVO_WINEPREFIX" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
run="$root/scripts/wine-run.sh"
trap 'timeout 30 wineserver -k >/dev/null 2>&1 || true' EXIT
"$root/scripts/wine-service-host.sh"
dest="$TAVO_WINEPREFIX/drive_c/Program Files/TAVO"
mkdir -p "$dest"
cp build/windows/TavoTouchpadService.exe "$dest/"
exe='C:\Program Files\TAVO\TavoTouchpadService.exe'

echo "--- install and start"
"$run" "$exe" -install | tr -d '\r'
sleep 2
echo "--- status"
"$run" sc query TAVOPTPService | tr -d '\r'
echo "--- trace log (C:\\Windows\\System32\\LogFiles\\TAVO.log)"
tr -d '\r' < "$TAVO_WINEPREFIX/drive_c/windows/system32/LogFiles/TAVO.log" || echo "(no trace file)"
echo "--- stop and remove"
"$run" "$exe" -remove | tr -d '\r'
