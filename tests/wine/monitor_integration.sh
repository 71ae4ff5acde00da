#!/usr/bin/env bash
# The real service under Wine answering writes to its settings key from another process:
# a change of AABB re-applies the settings, another value only wakes the monitor, the same
# data again does not even wake it, and the stop ends the monitor. Beside it runs the real
# input agent, end to end: an all-zero mouse report injected with SendInput flips AABB and
# the service re-applies the settings; a report with movement flips nothing and the service
# does nothing.
# Usage: monitor_integration.sh TavoTouchpadService.exe KVRInput.exe agent_probe.exe
set -uo pipefail

exe_src="$(realpath "$1")"
agent_src="$(realpath "$2")"
probe_src="$(realpath "$3")"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build_dir="$(dirname "$exe_src")"
prefix_name=monitor
source "$here/lib.sh"
source "$here/../../scripts/virtual-display.sh"

trap end_agent_run EXIT
# The agent creates windows.
if ! fresh_windowed_prefix 600; then
    fail "Xvfb starts"
    exit 1
fi

c_drive="$TAVO_WINEPREFIX/drive_c"
mkdir -p "$c_drive/Program Files/TAVO"
cp "$exe_src" "$c_drive/Program Files/TAVO/TavoTouchpadService.exe"
cp "$agent_src" "$c_drive/Program Files/TAVO/KVRInput.exe"
cp "$probe_src" "$c_drive/Program Files/TAVO/agent_probe.exe"
exe='C:\Program Files\TAVO\TavoTouchpadService.exe'
trace="$c_drive/windows/system32/LogFiles/TAVO.log"
key='HKLM\System\CurrentControlSet\Control\Brindlex_PTP'

# The settings key exists before the service starts, as the driver package leaves it.
set_dword() { TAVO_WINE_TIMEOUT=30 "$run" reg add "$key" /v "$1" /t REG_DWORD /d "$2" /f >/dev/null 2>&1; }
set_dword AABB 1
TAVO_WINE_TIMEOUT=60 "$run" "$exe" -install >/dev/null 2>&1
# The agent beside the service, started as the launcher does at a logon (which Wine never
# reports). It reads AABB once, now: 1.
TAVO_WINE_TIMEOUT=280 "$run" 'C:\Program Files\TAVO\KVRInput.exe' >/dev/null 2>&1 &
agent_pid=$!
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

# Runs the action and checks the trace lines it brought: the monitor's wake-ups, its
# re-applications and, when it woke, the AABB it read.
check() {  # name, wakes (0/1), re-applies (0/1), AABB read, action...
    local name="$1" want_wakes="$2" want_reapplies="$3" read="$4" seen new wakes reapplies
    shift 4
    seen="$(count)"
    "$@"
    if [ "$want_wakes" -eq 0 ]; then sleep 2; new="$(lines | tail -n +$((seen + 1)))"; else new="$(after "$seen")"; fi
    wakes="$(grep -cxF "4: AABB:: MultiObjectNumber = 1" <<<"$new")"
    reapplies="$(grep -cxF "4: Enter ==> ForcePadControl" <<<"$new")"
    if [ "$wakes" -eq "$want_wakes" ] && [ "$reapplies" -eq "$want_reapplies" ] &&
        { [ "$want_wakes" -eq 0 ] || grep -qxF "4: RegRead_AABB::Read AABB = $read" <<<"$new"; }; then
        pass "$name"
    else
        fail "$name" "wake-ups $wakes (want $want_wakes), re-applications $reapplies (want $want_reapplies)" "$new"
    fi
}
check "AABB written 0 from another process re-applies the settings" 1 1 0 set_dword AABB 0
check "another value under the key wakes the monitor and re-applies nothing" 1 0 0 set_dword PalmCheckLevel 4
check "AABB written with the data it has does not wake the monitor" 0 0 0 set_dword AABB 0
check "AABB written 1 re-applies the settings" 1 1 1 set_dword AABB 1

# ---- the agent and the service together ----
probe() { TAVO_WINE_TIMEOUT=30 "$run" 'C:\Program Files\TAVO\agent_probe.exe' "$@" 2>/dev/null | tr -d '\r'; }
# One mouse report through SendInput; the probe watches AABB for up to MS milliseconds.
inject() {  # kind, ms
    probe_out="$(probe inject "$1" "$2")"
    echo "  measured ($1): $(grep -v '^record' <<<"$probe_out" | tr '\n' ';')"
}
flipped() {  # name, the probe's "aabb ..." line up to its time
    local got
    got="$(grep '^aabb' <<<"$probe_out" | sed 's/ after .*//; s/ for .*//')"
    if [ "$got" == "$2" ]; then pass "$1"; else fail "$1" "expected: $2" "probe:    $probe_out"; fi
}
agent_windows="$(probe wait-agent 20)"
if [[ "$agent_windows" == "dummy=1 "* ]]; then pass "the agent runs beside the service"; else fail "the agent runs beside the service" "$agent_windows"; fi
# The agent still holds 1, what it read at its start, and AABB is 1 again.
check "the service re-applies the settings for an all-zero report" 1 1 0 inject zero 3000
flipped "the all-zero report flips AABB to 0" "aabb dword:1 -> dword:0"
check "a report with movement wakes nothing and re-applies nothing" 0 0 0 inject move 500
flipped "a report with movement leaves AABB alone" "aabb dword:0 unchanged"
check "the next all-zero report is answered too" 1 1 1 inject zero 3000
flipped "the next all-zero report flips AABB back to 1" "aabb dword:0 -> dword:1"

TAVO_WINE_TIMEOUT=60 "$run" "$exe" -remove >/dev/null 2>&1
# STOPPED is reported before the object goes; the monitor may end during its teardown.
for _ in $(seq 1 20); do lines | grep -qxF "4: AABB:: MultiObjectNumber = 0" && break; sleep 0.25; done
if lines | grep -qxF "4: AABB:: MultiObjectNumber = 0"; then pass "the stop ends the monitor"; else fail "the stop ends the monitor" "$(lines | tail -20)"; fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
