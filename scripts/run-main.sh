#!/usr/bin/env bash
# The main job: builds the Windows programs, installs the service under Wine in a private
# prefix, starts it, shows its status, stops and removes it and shows its trace; then runs
# the same service natively on a simulated laptop (tavo-sim) to show what it does to a pad.
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
cp build/windows/TavoTouchpadService.exe build/windows/tools/tavoctl/tavoctl.exe build/windows/set-named-event.exe "$dest/"
exe='C:\Program Files\TAVO\TavoTouchpadService.exe'
ctl() { echo "> tavoctl $*"; "$run" 'C:\Program Files\TAVO\tavoctl.exe' "$@" 2>&1 | tr -d '\r' || true; }

echo "--- install and start"
"$run" "$exe" -install | tr -d '\r'
# The start looks for the driver package five times, half a second apart: wait for it.
for _ in $(seq 1 60); do
    "$run" sc query TAVOPTPService 2>/dev/null | grep -q RUNNING && break
    sleep 0.25
done
echo "--- status"
"$run" sc query TAVOPTPService | tr -d '\r'
echo "--- the service answers its RPC interface (tavoctl)"
# The server comes up on a pool thread after the start: give it a moment.
for _ in $(seq 1 40); do
    "$run" 'C:\Program Files\TAVO\tavoctl.exe' data 99 >/dev/null 2>&1 && break
    sleep 0.25
done
ctl status
ctl data 99
echo "# Wine has no settings application: the service drops the set and the get returns"
echo "# the defaults, as designed; tavoctl says why."
ctl palm set 1 10 10 20 20
ctl palm get
echo "--- another program sets the named event Global\\API_3HB_Change_Status_On"
settings_key='HKLM\System\CurrentControlSet\Control\Brindlex_PTP'
"$run" reg add "$settings_key" /v UseTopZoneAsVadavAreduButtonsEnabled /t REG_DWORD /d 0 /f >/dev/null 2>&1
echo "> before: $("$run" reg query "$settings_key" /v UseTopZoneAsVadavAreduButtonsEnabled 2>/dev/null | tr -d '\r' | grep -i REG_)"
"$run" 'C:\Program Files\TAVO\set-named-event.exe' 'Global\API_3HB_Change_Status_On' || true
for _ in $(seq 1 40); do
    "$run" reg query "$settings_key" /v UseTopZoneAsVadavAreduButtonsEnabled 2>/dev/null | grep -qi 0x1 && break
    sleep 0.25
done
echo "> after:  $("$run" reg query "$settings_key" /v UseTopZoneAsVadavAreduButtonsEnabled 2>/dev/null | tr -d '\r' | grep -i REG_)"
echo "--- stop and remove"
"$run" "$exe" -remove | tr -d '\r'
echo "--- with the service gone, tavoctl says so"
ctl status
echo "--- trace log (C:\\Windows\\System32\\LogFiles\\TAVO.log)"
tr -d '\r' < "$TAVO_WINEPREFIX/drive_c/windows/system32/LogFiles/TAVO.log" || echo "(no trace file)"
timeout 30 wineserver -k >/dev/null 2>&1 || true

# Wine has no touchpad, no console session state and no session or power notifications:
# the rest of the lifecycle is shown on a simulated laptop, with the same service code.
echo "--- the service on a simulated laptop (build/native/tavo-sim --help for more; without"
echo "    --no-trace it prints the service's trace after each step too)"
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)" --target tavo-sim
build/native/tavo-sim --no-trace
