#!/usr/bin/env bash
# The real service under Wine answering writes to its settings key from another process:
# a change of AABB re-applies the settings, another value only wakes the monitor, the same
# data again does not even wake it, and the stop ends the monitor.
# Usage: monitor_integration.sh path/to/TavoTouchpadService.exe
set -uo pipefail

exe_src="$(realpath "$1")"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
export TAVO_WINEPREFIX="$(dirname "$exe_src")/wineprefix-monitor"
export WINEPREFIX="$TAVO_WINEPREFIX"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
run="$here/../../scripts/wine-run.sh"

passed=0
failed=0
pass() { echo "PASS: $1"; passed=$((passed + 1)); }
fail() { echo "FAIL: $1"; shift; printf '  %s\n' "$@"; failed=$((failed + 1)); }
cleanup() { WINEPREFIX="$TAVO_WINEPREFIX" timeout 30 wineserver -k >/dev/null 2>&1 || true; }
trap cleanup EXIT
cleanup
rm -rf "$TAVO_WINEPREFIX" "$TAVO_WINEPREFIX.lock"
"$here/../../scripts/wine-service-host.sh"

c_drive="$TAVO_WINEPREFIX/drive_c"
mkdir -p "$c_drive/Program Files/TAVO"
cp "$exe_src" "$c_drive/Program Files/TAVO/TavoTouchpadService.exe"
exe='C:\Program Files\TAVO\TavoTouchpadService.exe'
trace="$c_drive/windows/system32/LogFiles/TAVO.log"
key='HKLM\System\CurrentControlSet\Control\Brindlex_PTP'

# The settings key exists before the service starts, as the driver package leaves it.
set_dword() { TAVO_WINE_TIMEOUT=30 "$run" reg add "$key" /v "$1" /t REG_DWORD /d "$2" /f >/dev/null 2>&1; }
set_dword AABB 1
TAVO_WINE_TIMEOUT=60 "$run" "$exe" -install >/dev/null 2>&1
for _ in $(seq 1 60); do
    TAVO_WINE_TIMEOUT=30 "$run" sc query TAVOPTPService 2>/dev/null | grep -q RUNNING && break
    sleep 0.25
done
lines() { tr -d '\r' < "$trace" 2>/dev/null; }
# Waits (at most 5 s) until the trace has grown past what it had; prints the new lines.
after() {  # lines already seen
    local text
    for _ in $(seq 1 20); do
        text="$(lines | tail -n +$(($1 + 1)))"
        [ -n "$text" ] && { sleep 0.5; lines | tail -n +$(($1 + 1)); return; }
        sleep 0.25
    done
}
count() { lines | wc -l; }
# The monitor is waiting once the start's own writes have woken it and the start is done.
for _ in $(seq 1 40); do lines | grep -qxF "4: Service in OnStart--" && break; sleep 0.25; done
sleep 1

check() {  # name, value, data, wakes (0/1), re-applies (0/1), AABB read
    local seen new
    seen="$(count)"
    set_dword "$2" "$3"
    if [ "$4" -eq 0 ]; then sleep 2; new="$(lines | tail -n +$((seen + 1)))"; else new="$(after "$seen")"; fi
    local wakes reapplies
    wakes="$(grep -cxF "4: AABB:: MultiObjectNumber = 1" <<<"$new")"
    reapplies="$(grep -cxF "4: Enter ==> ForcePadControl" <<<"$new")"
    if [ "$wakes" -eq "$4" ] && [ "$reapplies" -eq "$5" ] && { [ "$4" -eq 0 ] || grep -qxF "4: RegRead_AABB::Read AABB = $6" <<<"$new"; }; then
        pass "$1"
    else
        fail "$1" "wake-ups $wakes (want $4), re-applications $reapplies (want $5)" "$new"
    fi
}
check "AABB written 0 from another process re-applies the settings" AABB 0 1 1 0
check "another value under the key wakes the monitor and re-applies nothing" PalmCheckLevel 4 1 0 0
check "AABB written with the data it has does not wake the monitor" AABB 0 0 0 0
check "AABB written 1 re-applies the settings" AABB 1 1 1 1

TAVO_WINE_TIMEOUT=60 "$run" "$exe" -remove >/dev/null 2>&1
if lines | grep -qxF "4: AABB:: MultiObjectNumber = 0"; then pass "the stop ends the monitor"; else fail "the stop ends the monitor" "$(lines | tail -20)"; fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
