#!/usr/bin/env bash
# Runs the real TavoTouchpadService.exe under Wine's service control manager in a private
# prefix and checks what a user sees: console output, the installed service, its trace.
# Usage: service_integration.sh path/to/TavoTouchpadService.exe [path/to/set-named-event.exe]
set -uo pipefail

exe_src="$(realpath "$1")"
set_event_src="${2:+$(realpath "$2")}"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build_dir="$(dirname "$exe_src")"
prefix_name=integration
source "$here/lib.sh"

cleanup() { WINEPREFIX="$TAVO_WINEPREFIX" timeout 30 wineserver -k >/dev/null 2>&1 || true; }
trap cleanup EXIT

# A fresh prefix per run: earlier runs must not leave a service or a trace behind.
cleanup
rm -rf "$TAVO_WINEPREFIX" "$TAVO_WINEPREFIX.lock"
"$here/../../scripts/wine-service-host.sh"

# Installed under a folder with a blank, so the quoted program path is exercised.
c_drive="$TAVO_WINEPREFIX/drive_c"
mkdir -p "$c_drive/Program Files/TAVO Suite"
cp "$exe_src" "$c_drive/Program Files/TAVO Suite/TavoTouchpadService.exe"
exe='C:\Program Files\TAVO Suite\TavoTouchpadService.exe'
trace="$c_drive/windows/system32/LogFiles/TAVO.log"

# Runs the program and captures its standard output with Unix line ends.
svc() { TAVO_WINE_TIMEOUT=60 "$run" "$exe" "$@" 2>/dev/null | tr -d '\r'; }
expect_output() {  # name, expected, actual
    if [ "$3" == "$2" ]; then pass "$1"; else fail "$1" "expected: $(printf '%q' "$2")" "actual:   $(printf '%q' "$3")"; fi
}
state() { TAVO_WINE_TIMEOUT=30 "$run" sc query TAVOPTPService 2>/dev/null | tr -d '\r' | awk '/STATE/ {print $4}'; }
wait_state() {  # wanted state, seconds
    for _ in $(seq 1 $(($2 * 4))); do [ "$(state)" == "$1" ] && return 0; sleep 0.25; done
    return 1
}
reg_value() {  # key, value name -> data
    TAVO_WINE_TIMEOUT=30 "$run" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v n="$2" '$1 == n { $1 = ""; $2 = ""; sub(/^  */, ""); print }'
}
# Prints the first of the lines (after the text) that is missing or out of order; fails then.
in_order() {
    local text="$1" at=0 n want
    shift
    for want in "$@"; do
        n="$(tail -n +$((at + 1)) <<<"$text" | grep -nxF -m1 -- "$want" | cut -d: -f1)"
        if [ -z "$n" ]; then echo "$want"; return 1; fi
        at=$((at + n))
    done
}
usage=$'Parameters:\n -install  to install the service.\n -remove   to remove the service.\n -console  to run in console mode.'

# ---- command line without the service manager ----
expect_output "no argument from a console cannot reach the dispatcher" \
    "Service failed to run w/err 0x00000427" "$(svc)"
expect_output "a word without prefix selects dispatcher mode" \
    "Service failed to run w/err 0x00000427" "$(svc install)"
expect_output "a lone dash prints the usage" "$usage" "$(svc -)"
expect_output "-help prints the usage" "$usage" "$(svc -help)"

# ---- install, run, stop, remove ----
# The toggle flag as the input agent leaves it: the start reads it back.
TAVO_WINE_TIMEOUT=30 "$run" reg add 'HKLM\System\CurrentControlSet\Control\Brindlex_PTP' /v AABB /t REG_DWORD /d 1 /f >/dev/null 2>&1
expect_output "/INSTALL installs and starts" \
    $'TAVOPTPService is installed.\nTAVOPTPService is started.' "$(svc /INSTALL)"
if wait_state RUNNING 15; then pass "the service runs under the service control manager"; else fail "service running" "state: $(state)"; fi
svc_key='HKLM\System\CurrentControlSet\Services\TAVOPTPService'
# Another program sets each global API event; the service writes the value it names in force.
settings_key='HKLM\System\CurrentControlSet\Control\Brindlex_PTP'
if [ -n "$set_event_src" ]; then
    cp "$set_event_src" "$c_drive/set-named-event.exe"
    # The opposite value is written first, so each row shows its own event's work.
    for row in 'API_3HB_Change_Status_On UseTopZoneAsVadavAreduButtonsEnabled 0x1 0' \
               'API_3HB_Change_Status_Off UseTopZoneAsVadavAreduButtonsEnabled 0x0 1' \
               'API_Set_Forcepad_Capability_Enable ForcepadCapability 0x1 0' \
               'API_Set_Forcepad_Capability_Disable ForcepadCapability 0x0 1'; do
        read -r event value want before <<<"$row"
        TAVO_WINE_TIMEOUT=30 "$run" reg add "$settings_key" /v "$value" /t REG_DWORD /d "$before" /f >/dev/null 2>&1
        TAVO_WINE_TIMEOUT=30 "$run" 'C:\set-named-event.exe' "Global\\$event" >/dev/null 2>&1
        for _ in $(seq 1 40); do [ "$(reg_value "$settings_key" "$value")" = "$want" ] && break; sleep 0.25; done
        expect_output "a second program's $event reaches the registry" "$want" "$(reg_value "$settings_key" "$value")"
    done
fi
expect_output "the description is set at construction" "Service for TAVO Pad Suite" "$(reg_value "$svc_key" Description)"
expect_output "the program path is stored quoted" "\"$exe\"" "$(reg_value "$svc_key" ImagePath)"
expect_output "a second install reports that the service exists" \
    "CreateService failed w/err 0x00000431" "$(svc -Install)"
# Two users' stored choices: the stop resets both to the defaults.
for user in alice bob; do
    TAVO_WINE_TIMEOUT=30 "$run" reg add "$settings_key\\$user" /v PalmCheck_Level /t REG_DWORD /d 77 /f >/dev/null 2>&1
    TAVO_WINE_TIMEOUT=30 "$run" reg add "$settings_key\\$user" /v HapticFeedbackCheckSlider /t REG_DWORD /d 7 /f >/dev/null 2>&1
done
expect_output "-remove of a running service stops and removes it" \
    $'Stopping TAVOPTPService.\nTAVOPTPService is stopped.\nTAVOPTPService is removed.' "$(svc -remove)"
if [ -z "$(state)" ]; then pass "the removed service is gone"; else fail "service gone" "state: $(state)"; fi
for user in alice bob; do
    level="$(reg_value "$settings_key\\$user" PalmCheck_Level)"
    slider="$(reg_value "$settings_key\\$user" HapticFeedbackCheckSlider)"
    if [ -n "$level" ] && [ "$level" != 0x4d ] && [ "$slider" = 0x32 ]; then
        pass "the stop reset $user's stored settings"
    else
        fail "the stop reset $user's stored settings" "PalmCheck_Level=$level HapticFeedbackCheckSlider=$slider"
    fi
done

if [ -f "$trace" ]; then
    log="$(tr -d '\r' < "$trace")"
    missing=()
    for line in "4: Register Event Success" "4: SetServiceInfo++" "4: OpenSCManager Success" "4: OpenService Success" \
                "4: SetServiceInfo--" "4: Service trying to start."; do
        grep -qxF -- "$line" <<<"$log" || missing+=("$line")
    done
    # Wine's manager has no start triggers: the failure is logged and the service runs on.
    grep -qxF -- "4: Set Service Trigger Info fail. (Error=1733)" <<<"$log" || missing+=("trigger failure line")
    if [ ${#missing[@]} -eq 0 ]; then pass "the trace file holds the service's lines"; else fail "trace lines" "${missing[@]}"; fi
    # Start and stop run their steps in order. Wine has no driver package (five searches),
    # no pointing stick and no console session state (nobody counts as logged on).
    search=("4: ==> Enter WorkaroundGetHKRRegistryPath" "4: <== Exit WorkaroundGetHKRRegistryPath (0)")
    if out_of_order="$(in_order "$log" "4: Service in OnStart++" "4: RegRead_AABB::Read AABB = 1" \
            "${search[@]}" "${search[@]}" "${search[@]}" "${search[@]}" "${search[@]}" "4: Open HKR Registry Fail" \
            "4: [OnStart] ReadPSTStatusFromDM = 0" "4: [ReadForcepadCapability] Enter ==> ReadForcepadCapability()" \
            "4: DetectUserLogon::UserLogon = 0" "4: SyncTouchpadSettings::Read Registry" \
            "4: SyncForcepadSettings::Read Registry" "4: <Palm> OnStart Set Dynamic Mode Command" \
            "4: Service in OnStart--" "4: Service in OnStop++" "4: <PalmControl> UWPInstall = 0, SWCInstall = 0" \
            "4: Enter ==> ForcePadControl" "4: Exit <== ForcePadControl" "4: Service in OnStop--")"; then
        pass "the trace shows the start's steps, then the stop's, in order"
    else
        fail "start and stop steps in order" "missing or out of order: $out_of_order"
    fi
    if [ "$(grep -cxF -- "4: ==> Enter WorkaroundGetHKRRegistryPath" <<<"$log")" -eq 5 ]; then
        pass "the driver key is sought five times"
    else
        fail "five driver key searches" "$(grep -cxF -- "4: ==> Enter WorkaroundGetHKRRegistryPath" <<<"$log")"
    fi
    if grep -q "EnableTracelog\|DisableTracelog" <<<"$log"; then fail "lines outside the provider's life are dropped" "$log"; else pass "lines outside the provider's life are dropped"; fi
    if tr -d '\n' < "$trace" | grep -q $'\r\r'; then fail "one line end per message"; else pass "one line end per message"; fi
else
    fail "the trace file exists" "$trace"
fi

# ---- a stopped service is removed without stop lines ----
svc -install >/dev/null
wait_state RUNNING 15
TAVO_WINE_TIMEOUT=30 "$run" net stop TAVOPTPService >/dev/null 2>&1
wait_state STOPPED 15
expect_output "-remove of a stopped service prints no stop lines" "TAVOPTPService is removed." "$(svc -remove)"

# ---- DisableEventLog = 1: the provider still registers, but no session records ----
rm -f "$trace"
TAVO_WINE_TIMEOUT=30 "$run" reg add 'HKLM\System\CurrentControlSet\Control\Brindlex_PTP' /v DisableEventLog /t REG_DWORD /d 1 /f >/dev/null 2>&1
svc -install >/dev/null
wait_state RUNNING 15
svc -remove >/dev/null
if [ ! -e "$trace" ]; then pass "DisableEventLog=1 starts no trace session"; else fail "DisableEventLog=1" "$(cat "$trace")"; fi
TAVO_WINE_TIMEOUT=30 "$run" reg add 'HKLM\System\CurrentControlSet\Control\Brindlex_PTP' /v DisableEventLog /t REG_SZ /d 1 /f >/dev/null 2>&1
svc -install >/dev/null
wait_state RUNNING 15
svc -remove >/dev/null
if [ -s "$trace" ]; then pass "DisableEventLog stored as a string does not disable"; else fail "DisableEventLog string"; fi

# ---- console mode: serves the interface in the foreground until it is ended ----
console_out="$TAVO_WINEPREFIX/console.out"
TAVO_WINE_TIMEOUT=90 "$run" "$exe" -console extra args >"$console_out" 2>/dev/null &
console_pid=$!
for _ in $(seq 1 120); do grep -q "RpcServerUseProtseqEp Result" "$console_out" 2>/dev/null && break; sleep 0.25; done
sleep 2  # the pause after the endpoint opens, then registration and listening
if kill -0 "$console_pid" 2>/dev/null; then pass "-console keeps serving"; else fail "-console keeps serving" "$(cat "$console_out")"; fi
kill "$console_pid" 2>/dev/null; wait "$console_pid" 2>/dev/null
expect_output "-console echoes the trace as the server comes up" \
    $'4: Starting Rpc Server..\n4: RpcServerUseProtseqEp Result = 0' "$(tr -d '\r' < "$console_out" | grep -v '^$')"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
