#!/usr/bin/env bash
# Runs the real tavoctl.exe under Wine in a private prefix: with no service (one clear
# sentence, a non-zero exit, fast), with bad arguments, and against the real service
# serving its interface in console mode, where every command must round-trip.
# Usage: tavoctl_integration.sh tavoctl.exe TavoTouchpadService.exe hold_context.exe
set -uo pipefail
if [ $# -ne 3 ] || [ ! -f "$1" ] || [ ! -f "$2" ] || [ ! -f "$3" ]; then
    echo "usage: $0 path/to/tavoctl.exe path/to/TavoTouchpadService.exe path/to/hold_context.exe" >&2
    exit 2
fi

ctl_src="$(realpath "$1")"
svc_src="$(realpath "$2")"
hold_src="$(realpath "$3")"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build_dir="$(dirname "$svc_src")"
prefix_name=tavoctl
source "$here/lib.sh"

svc_pid=""
work="$(mktemp -d)"
stop_wine() {
    [ -n "$svc_pid" ] && kill "$svc_pid" 2>/dev/null
    WINEPREFIX="$TAVO_WINEPREFIX" timeout 30 wineserver -k >/dev/null 2>&1 || true
}
trap 'stop_wine; rm -rf "$work"' EXIT

# A fresh prefix per run: nothing of an earlier run may answer.
stop_wine
rm -rf "$TAVO_WINEPREFIX" "$TAVO_WINEPREFIX.lock"
"$here/../../scripts/wine-service-host.sh"
# The prefix's own services start with its first program; that is not tavoctl's time.
TAVO_WINE_TIMEOUT=60 "$run" cmd /c exit >/dev/null 2>&1

dir="$TAVO_WINEPREFIX/drive_c/Program Files/TAVO Suite"
mkdir -p "$dir"
cp "$ctl_src" "$dir/tavoctl.exe"
cp "$svc_src" "$dir/TavoTouchpadService.exe"
cp "$hold_src" "$dir/hold_context.exe"
ctl_exe='C:\Program Files\TAVO Suite\tavoctl.exe'
svc_exe='C:\Program Files\TAVO Suite\TavoTouchpadService.exe'

# Runs tavoctl; sets out and err (Unix line ends), rc and ms (wall time, Wine's start included).
ctl() {
    local start end
    start="$(date +%s%N)"
    TAVO_WINE_TIMEOUT=30 "$run" "$ctl_exe" "$@" >"$work/out" 2>"$work/err"
    rc=$?
    end="$(date +%s%N)"
    ms=$(((end - start) / 1000000))
    out="$(tr -d '\r' <"$work/out")"
    err="$(tr -d '\r' <"$work/err")"
}
show() { printf '%q' "$1"; }
# name, expected exit code, expected standard output (exact); after ctl.
expect() {
    if [ "$rc" -eq "$2" ] && [ "$out" == "$3" ]; then
        pass "$1"
    else
        fail "$1" "exit $rc (expected $2)" "expected: $(show "$3")" "actual:   $(show "$out")" "stderr:   $(show "$err")"
    fi
}
# name, expected exit code, extended regular expression each line of the output must match in turn.
expect_lines() {
    local name="$1" want_rc="$2" i=0 line
    shift 2
    local -a lines
    mapfile -t lines <<<"$out"
    if [ "$rc" -ne "$want_rc" ] || [ "${#lines[@]}" -ne $# ]; then
        fail "$name" "exit $rc (expected $want_rc), ${#lines[@]} line(s) (expected $#)" "output: $(show "$out")" "stderr: $(show "$err")"
        return
    fi
    for pattern in "$@"; do
        line="${lines[$i]}"
        if ! grep -qE -- "^$pattern\$" <<<"$line"; then
            fail "$name" "line $((i + 1)): $(show "$line")" "does not match: $pattern"
            return
        fi
        i=$((i + 1))
    done
    pass "$name"
}

# ---- no service ----
unreachable="The touchpad service is not running or not reachable (RPC error 1722)."
# The bound only tells "answers at once" from a client that retries or waits out the run
# time's timeouts (tens of seconds); it is loose so a loaded machine cannot fail it.
for cmd in "status" "palm get" "palm set 2 0 0 0 0" "forcepad get" "forcepad set haptic=1" "data 99" "support" "meter"; do
    # shellcheck disable=SC2086  # the command's words
    ctl $cmd
    if [ "$rc" -eq 1 ] && [ "$err" == "$unreachable" ] && [ -z "$out" ] && [ "$ms" -lt 10000 ]; then
        pass "no service: '$cmd' says so in one sentence, exit 1, in ${ms} ms"
    else
        fail "no service: '$cmd'" "exit $rc, ${ms} ms" "stderr: $(show "$err")" "stdout: $(show "$out")"
    fi
done
ctl data 99 --json
expect "no service, --json: one JSON object" 1 \
    "{\"command\":\"data\",\"ok\":false,\"error\":\"unreachable\",\"call\":\"OpenRpcEndpoint\",\"rpc_status\":1722,\"message\":\"$unreachable\"}"

# ---- bad arguments: no call is made, exit 2 ----
bad_args=(
    "|no command given"
    "frobnicate|unknown command 'frobnicate'"
    "--verbose status|unknown option '--verbose'"
    "status now|'status' takes no arguments, got 'now'"
    "palm set 9 0 0 0 0|palm level '9' is neither 0 to 5 nor one of minimal, low, medium, high, custom, dynamic"
    "palm set 2 0 0|'palm set' needs LEVEL UP DOWN LEFT RIGHT (5 values), got 3"
    "forcepad set pressure=1|unknown forcepad setting 'pressure'; the names are item, haptic, haptic-strength, finger-force, click-force, top-zone, button-force, top-zone-available, top-zone-manual"
    "data x|data function 'x' is not a 32-bit integer"
    "meter 1|'meter' takes no values or all three of FIRST SECOND PERIOD"
)
for row in "${bad_args[@]}"; do
    args="${row%%|*}"
    message="${row#*|}"
    # shellcheck disable=SC2086
    ctl $args
    if [ "$rc" -eq 2 ] && [ "$err" == "tavoctl: $message"$'\n'"Run 'tavoctl --help' for the commands." ] && [ -z "$out" ]; then
        pass "bad arguments '$args': exit 2 with the reason"
    else
        fail "bad arguments '$args'" "exit $rc" "stderr: $(show "$err")"
    fi
done
ctl palm set 9 0 0 0 0 --json
expect "bad arguments, --json" 2 \
    "{\"ok\":false,\"error\":\"usage\",\"message\":\"palm level '9' is neither 0 to 5 nor one of minimal, low, medium, high, custom, dynamic\"}"
ctl --help
if [ "$rc" -eq 0 ] && [ "$(head -n1 <<<"$out")" == "Usage: tavoctl COMMAND [--json]" ]; then
    pass "--help prints the usage"
else
    fail "--help" "exit $rc" "$(show "$out")"
fi

# ---- against the service in console mode ----
TAVO_WINE_TIMEOUT=300 "$run" "$svc_exe" -console >"$work/service.log" 2>&1 &
svc_pid=$!
served=0
for _ in $(seq 1 60); do
    ctl data 99
    if [ "$rc" -eq 0 ]; then served=1; break; fi
    kill -0 "$svc_pid" 2>/dev/null || break
    sleep 0.5
done
if [ "$served" -eq 1 ]; then
    pass "the service in console mode serves the interface"
else
    fail "the service in console mode serves the interface" "last tavoctl: exit $rc, $(show "$err")" \
        "service output: $(show "$(tr -d '\r' <"$work/service.log")")"
fi

ctl data 99
expect "data 99 gives the check constant" 0 "Touchpad data 99 (check constant): 0x12345678"
ctl --json data 99
expect "data 99 --json" 0 '{"command":"data","ok":true,"function":99,"meaning":"check constant","value":305419896}'
# Data 1 answers the service's last component test: 1 until one is made (console mode
# makes none at start); the support query makes one, and Wine has no component device.
ctl data 1
expect "data 1 before any component test" 0 "Touchpad data 1 (software component present): 1 (yes)"
ctl support >/dev/null
ctl data 1
expect "data 1: no software component under Wine" 0 "Touchpad data 1 (software component present): 0 (no)"

ctl status
expect_lines "status decodes its byte" 0 "Touchpad status: 0x[0-9A-F]{2}" \
    "  BIOS enables the touchpad:       (yes|no)" "  Precision Touchpad switch is on: (yes|no)" \
    "  Enabled in Device Manager:       (yes|no)"
ctl status --json
expect_lines "status --json" 0 \
    '\{"command":"status","ok":true,"status":[0-9]+,"bios_enabled":(true|false),"user_switch_on":(true|false),"device_enabled":(true|false)\}'

ctl support
expect_lines "support answers" 0 "Custom palm level allowed: (yes|no) \(-?[0-9]+\)"

ctl meter
expect "meter: start, period and stop all answered" 0 \
    "Metering answered: StartMetering(first 0, second 0), SetSamplePeriod(1000), StopMetering."

ctl palm get
palm_before="$out"
expect_lines "palm get" 0 "Palm check level:  [0-9-]+ \([a-z ]+\)" \
    "Palm check ranges: up -?[0-9]+, down -?[0-9]+, left -?[0-9]+, right -?[0-9]+"
# Values no default has, so a dropped set shows.
ctl palm set custom 11 22 33 44
expect_lines "palm set: the service drops it and tavoctl says why" 3 \
    "The service did not store the palm settings\." \
    "  Sent:      level 4 \(custom\), up 11, down 22, left 33, right 44" \
    "  Read back: level .*" \
    "The service drops a change without a word when the settings application or its software component is not installed; on this machine the software component is not installed \(data 1 = 0\)\."
ctl palm get
expect "palm get after the dropped set still gives the defaults" 0 "$palm_before"

ctl forcepad get
forcepad_before="$out"
names=(item haptic haptic-strength finger-force click-force top-zone button-force top-zone-available top-zone-manual)
patterns=("Forcepad settings:")
for n in "${names[@]}"; do patterns+=("  $n +-?[0-9]+ +\([A-Za-z]+\)"); done
expect_lines "forcepad get lists the nine settings" 0 "${patterns[@]}"
strength="$(awk '$1 == "haptic-strength" { print $2 }' <<<"$forcepad_before")"
ctl forcepad set "haptic-strength=$((${strength:-0} + 1))"
expect_lines "forcepad set: the service drops it and tavoctl says why" 3 \
    "The service did not store the forcepad settings\." \
    "  haptic-strength +sent $((${strength:-0} + 1)), read back ${strength:-0}" \
    "The service drops a change without a word when the settings application or its software component is not installed; on this machine the software component is not installed \(data 1 = 0\)\."
ctl forcepad get
expect "forcepad get after the dropped set is unchanged" 0 "$forcepad_before"

# A client that goes away while it holds a context: the service runs the context down.
TAVO_WINE_TIMEOUT=120 "$run" 'C:\Program Files\TAVO Suite\hold_context.exe' >"$work/hold.log" 2>&1 &
hold_pid=$!
for _ in $(seq 1 40); do grep -q holding "$work/hold.log" 2>/dev/null && break; sleep 0.25; done
kill "$hold_pid" 2>/dev/null
wait "$hold_pid" 2>/dev/null
rundown=""
for _ in $(seq 1 40); do
    rundown="$(tr -d '\r' <"$work/service.log" | grep -A2 -x "client died")"
    [ "$(wc -l <<<"$rundown")" -ge 3 ] && break
    sleep 0.25
done
if grep -qx "4: Service::ProcessExecuteMouseProperties" <(tr -d '\r' <"$work/service.log"); then
    pass "ProcessExecuteMouseProperties round-trips"
else
    fail "ProcessExecuteMouseProperties round-trips" "$(show "$(tr -d '\r' <"$work/service.log")")"
fi
if [ "$rundown" == $'client died\nstop metering\nclosing rpc endpoint' ]; then
    pass "a client that dies holding a context gives the three rundown lines"
else
    fail "rundown lines" "$(show "$(tr -d '\r' <"$work/service.log")")"
fi

if kill -0 "$svc_pid" 2>/dev/null; then
    pass "the service still runs after every command"
else
    fail "the service still runs after every command" "$(show "$(tr -d '\r' <"$work/service.log")")"
fi
kill "$svc_pid" 2>/dev/null
wait "$svc_pid" 2>/dev/null
svc_pid=""

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
