#!/usr/bin/env bash
# The main job: builds the Windows programs, makes the virtual forcepad laptop (Windows 10,
# with the settings application) under Wine in a private prefix with a virtual X display,
# installs the service there, starts it, shows its status and its RPC interface, changes the
# haptic strength and shows the pad's function table before and after, runs the input agent
# beside it and sends one toggle report, stops and removes it and shows what reached the pad
# and the trace; then runs the same service natively on a simulated laptop (tavo-sim) through
# the rest of its lifecycle.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
scripts/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)"

export TAVO_WINEPREFIX="$root/build/wineprefix-main"
export WINEPREFIX="$TAVO_WINEPREFIX" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
run="$root/scripts/wine-run.sh"
source "$root/scripts/virtual-display.sh"
trap end_agent_run EXIT
timeout 30 wineserver -k >/dev/null 2>&1 || true  # a run that was cut short
# The input agent creates windows: the display comes before the prefix's wineserver.
start_virtual_display 900 || { echo "Xvfb does not start"; exit 1; }
"$root/scripts/wine-service-host.sh"
dest="$TAVO_WINEPREFIX/drive_c/Program Files/TAVO"
mkdir -p "$dest"
cp build/windows/TavoTouchpadService.exe build/windows/KVRInput.exe build/windows/tools/tavoctl/tavoctl.exe \
    build/windows/tests/agent_probe.exe build/windows/set-named-event.exe "$dest/"
mkdir -p "$TAVO_WINEPREFIX/drive_c/vlaptop"
cp build/windows/tests/vlaptop.exe build/windows/tests/tavovpad.sys tests/wine/vlaptop/driver/tavovpad.inf \
    "$TAVO_WINEPREFIX/drive_c/vlaptop/"
exe='C:\Program Files\TAVO\TavoTouchpadService.exe'
trace="$TAVO_WINEPREFIX/drive_c/windows/system32/LogFiles/TAVO.log"
key='HKLM\System\CurrentControlSet\Control\Brindlex_PTP'
ctl() { echo "> tavoctl $*"; "$run" 'C:\Program Files\TAVO\tavoctl.exe' "$@" 2>&1 | tr -d '\r' || true; }
aabb() { "$run" reg query "$key" /v AABB 2>/dev/null | tr -d '\r' | awk '$1 == "AABB" { print $2, $3 }' || true; }
trace_lines() { tr -d '\r' 2>/dev/null < "$trace" | wc -l || true; }
vlaptop() { echo "> vlaptop $*"; "$run" 'C:\vlaptop\vlaptop.exe' "$@" 2>&1 | tr -d '\r' || true; }

echo "--- the virtual laptop: a forcepad, a pointing stick, the driver package, the settings application"
# The first program under the fresh wineserver starts the prefix's services, and they
# inherit its standard error: a pipe from it would never end.
"$run" 'C:\vlaptop\vlaptop.exe' install forcepad --windows 10 --companion >"$TAVO_WINEPREFIX/vlaptop.out" 2>&1 || true
tr -d '\r' < "$TAVO_WINEPREFIX/vlaptop.out"
echo "AABB: $(aabb)"
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
ctl data 2
echo "--- what the start asked the pad: its information and its forcepad capability"
vlaptop reports --clear
echo "--- the settings application changes the haptic strength (25: function 0x03AB = 0x5050)"
vlaptop table
ctl forcepad set item=2 haptic=1 haptic-strength=25 finger-force=0 click-force=1 top-zone=1 button-force=1 \
    top-zone-available=1 top-zone-manual=1
echo "# Items 1 to 6 of the record, each with its own scan: only the strength differs from what"
echo "# the pad held, so only 0x03AB is marked changed."
vlaptop reports --clear
vlaptop table
ctl palm set 1 10 10 20 20
ctl palm get
echo "--- the input agent beside the service, and one toggle report"
# The service starts KVRInput.exe at a logon, which Wine never reports: started here as the
# launcher would. It reads AABB once, at its start.
TAVO_WINE_TIMEOUT=600 "$run" 'C:\Program Files\TAVO\KVRInput.exe' >/dev/null 2>&1 &
agent_pid=$!
probe() { "$run" 'C:\Program Files\TAVO\agent_probe.exe' "$@" 2>&1 | tr -d '\r' || true; }
echo "> agent_probe wait-agent: the agent's windows, hidden, and its priority class"
probe wait-agent 20
echo "AABB before: $(aabb)"
seen="$(trace_lines)"
echo "> agent_probe inject zero: an all-zero mouse report (a zero relative move) through SendInput"
probe inject zero 3000
# The monitor wakes within milliseconds; the re-application ends with ForcePadControl.
for _ in $(seq 1 20); do
    tr -d '\r' < "$trace" | tail -n +$((seen + 1)) | grep -xF "4: Exit <== ForcePadControl" >/dev/null && break
    sleep 0.25
done
echo "AABB after: $(aabb)"
echo "# The service's trace answering it: the monitor wakes (wait result 1), reads the new AABB"
echo "# and pushes the palm-check and forcepad settings again; the pad gets items 1 to 6 again."
tr -d '\r' < "$trace" | tail -n +$((seen + 1))
vlaptop reports --clear
echo "--- another program sets the named event Global\\API_3HB_Change_Status_On"
"$run" reg add "$key" /v UseTopZoneAsVadavAreduButtonsEnabled /t REG_DWORD /d 0 /f >/dev/null 2>&1
echo "> before: $("$run" reg query "$key" /v UseTopZoneAsVadavAreduButtonsEnabled 2>/dev/null | tr -d '\r' | grep -i REG_)"
"$run" 'C:\Program Files\TAVO\set-named-event.exe' 'Global\API_3HB_Change_Status_On' || true
for _ in $(seq 1 40); do
    "$run" reg query "$key" /v UseTopZoneAsVadavAreduButtonsEnabled 2>/dev/null | grep -qi 0x1 && break
    sleep 0.25
done
echo "> after:  $("$run" reg query "$key" /v UseTopZoneAsVadavAreduButtonsEnabled 2>/dev/null | tr -d '\r' | grep -i REG_)"
echo "--- stop and remove"
"$run" "$exe" -remove | tr -d '\r'
echo "# At the stop the pad gets the default set."
vlaptop reports --clear
echo "--- with the service gone, tavoctl says so"
ctl status
echo "--- trace log (C:\\Windows\\System32\\LogFiles\\TAVO.log)"
tr -d '\r' < "$trace" || echo "(no trace file)"
vlaptop remove
end_agent_run

# Wine has no console session state and no session or power notifications: the rest of the
# lifecycle is shown on a simulated laptop, with the same service code.
echo "--- the service on a simulated laptop (build/native/tavo-sim --help for more; without"
echo "    --no-trace it prints the service's trace after each step too)"
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)" --target tavo-sim
build/native/tavo-sim --no-trace
