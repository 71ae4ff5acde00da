#!/usr/bin/env bash
# The real service on a virtual laptop under Wine: the laptop installer makes a laptop file's
# devices (the touchpad a HID device of the virtual driver, whose firmware records every
# report), the service manager runs the real service, and the rows check what reaches the
# pad, the registry and the trace: the start's probes, tavoctl's reads, the settings
# application's forcepad set on Windows 11 and on Windows 10, the agent's toggle report, the
# pointing-stick events, metering, the stop, a pad that refuses everything or is unplugged,
# and HID devices that must never be selected. One prefix for all of it. Each step's record and
# the registry values after it are then compared with what the same steps give on the
# simulator (tests/native/virtual_laptop_wire, from the native build), line by line.
# Usage: virtual_laptop_integration.sh TavoTouchpadService.exe KVRInput.exe tavoctl.exe
#        agent_probe.exe set-named-event.exe vlaptop.exe tavovpad.sys tavovpad.inf
set -uo pipefail
if [ $# -ne 8 ]; then
    echo "usage: $0 TavoTouchpadService.exe KVRInput.exe tavoctl.exe agent_probe.exe set-named-event.exe vlaptop.exe tavovpad.sys tavovpad.inf" >&2
    exit 2
fi
sources=()
for f in "$@"; do sources+=("$(realpath "$f")"); done
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build_dir="$(dirname "${sources[0]}")"
prefix_name=vlaptop
source "$here/lib.sh"
source "$here/../../scripts/virtual-display.sh"

work="$(mktemp -d)"
trap 'end_agent_run; rm -rf "$work"' EXIT
# The agent creates windows.
if ! fresh_windowed_prefix 900; then
    fail "Xvfb starts"
    exit 1
fi
TAVO_WINE_TIMEOUT=60 "$run" cmd /c exit >/dev/null 2>&1

c_drive="$TAVO_WINEPREFIX/drive_c"
dir="$c_drive/Program Files/TAVO"
mkdir -p "$dir" "$c_drive/vlaptop"
for f in "${sources[@]:0:5}"; do cp "$f" "$dir/"; done
for f in "${sources[@]:5:3}"; do cp "$f" "$c_drive/vlaptop/"; done
svc_exe='C:\Program Files\TAVO\TavoTouchpadService.exe'
trace="$c_drive/windows/system32/LogFiles/TAVO.log"
key='HKLM\System\CurrentControlSet\Control\Brindlex_PTP'
decoys="Z:$(realpath "$here/laptops/decoys.json" | tr '/' '\\')"

# Runs a Windows program; sets out (Unix line ends) and rc.
wine_run() {
    TAVO_WINE_TIMEOUT=60 "$run" "$@" >"$work/out" 2>"$work/err"
    rc=$?
    out="$(tr -d '\r' <"$work/out")"
}
vl() { wine_run 'C:\vlaptop\vlaptop.exe' "$@"; }
ctl() { wine_run 'C:\Program Files\TAVO\tavoctl.exe' "$@"; }
svc() { wine_run "$svc_exe" "$@"; }
lines() { tr -d '\r' <"$trace" 2>/dev/null; }
count() { lines | grep -cxF -- "$1"; }
wait_count() {  # trace line, count at least; at most 15 s
    for _ in $(seq 1 60); do [ "$(count "$1")" -ge "$2" ] && return 0; sleep 0.25; done
    return 1
}
show() { printf '%q' "$1"; }
expect() {  # name, expected, actual
    if [ "$3" == "$2" ]; then pass "$1"; else fail "$1" "expected: $(show "$2")" "actual:   $(show "$3")"; fi
}
state() { wine_run sc query TAVOPTPService; awk '/STATE/ {print $4}' <<<"$out"; }
user="$(TAVO_WINE_TIMEOUT=30 "$run" cmd /c echo %USERNAME% 2>/dev/null | tr -d '\r')"

# ---- the wire, from the transport's layout -------------------------------------------------
# Rows "R FUNCTION VALUE" (a read: the request 0x0305 naming the function, then the fetch
# answering function and value), "W FUNCTION DATA" (a write), "R! FUNCTION" (a request the
# pad refused) become the report lines the installer prints.
le() { printf '%02X %02X' $(($1 & 0xFF)) $(($1 >> 8)); }
wire() {
    local op f v
    while read -r op f v; do
        case "$op" in
            R) echo "> 0D 05 03 $(le "$f")"; echo "< 0D $(le "$f") $(le "$v")" ;;
            W) echo "> 0D $(le "$f") $(le "$v")" ;;
            R!) echo "> 0D 05 03 $(le "$f") refused" ;;
        esac
    done
}
# Each step's record and the registry values after it go to a file, which the end compares
# with what the same steps give on the simulator.
wire_file="$build_dir/virtual-laptop-wire.txt"
: >"$wire_file"
step() {  # step, collection: its record since the last step (then cleared) into out and the file
    vl reports --hid "${2:-vendor}" --clear
    {
        echo "## $1"
        [ -n "$out" ] && echo "$out"
        echo "in force: $(stored "$key" AABB BIOSEnablePSTStatus ForcepadCapability "${palm_names[@]}" "${forcepad_names[@]}")"
        echo "user: $(stored "$key\\$user" ForcepadCapability "${palm_names[@]}" "${forcepad_names[@]}")"
    } >>"$wire_file"
}
pad_got() {  # step, name, collection; the expected rows on stdin
    local want record
    want="$(wire)"
    step "$1" "${3:-vendor}"
    record="$(sed -n "/^## $1\$/,/^in force: /p" "$wire_file" | sed '1d;$d')"
    if [ "$record" == "$want" ]; then pass "$2"; else fail "$2" "expected:" "$want" "the pad got:" "$record"; fi
}
# The nine forcepad values in record order, as reg prints them.
forcepad_names=(CurrentControlItem HapticEnabled HapticFeedbackCheckSlider FingerDetectionForceCheckOption
                ClickForceCheckOption UseTopZoneAsVadavAreduButtonsEnabled VadavAreduButtonClickForceCheckOption
                UseTopZoneAsVadavAreduButtonsNotGrayOut UseTopZoneAsVadavAreduButtonsPreviousManualStatus)
palm_names=(PalmCheck_Level PalmCheck_Range_Up PalmCheck_Range_Down PalmCheck_Range_Left PalmCheck_Range_Right)
stored() {  # key, value names... -> "v1 v2 ..." in decimal ("-" for a missing value)
    local k="$1" n v vals=()
    shift
    wine_run reg query "$k"
    for n in "$@"; do
        v="$(awk -v n="$n" '$1 == n && $2 == "REG_DWORD" {print $3}' <<<"$out")"
        vals+=("$([ -n "$v" ] && printf '%d' "$v" || echo -)")
    done
    echo "${vals[*]}"
}
set_dword() { wine_run reg add "$1" /v "$2" /t REG_DWORD /d "$3" /f; }
# One re-application from another process's write of AABB: the toggle-flag monitor runs the
# palm and forcepad decisions; waits for the forcepad one to end.
reapply() {
    local before
    before="$(count "4: Exit <== ForcePadControl")"
    aabb=$((1 - ${aabb:-0}))
    set_dword "$key" AABB "$aabb"
    wait_count "4: Exit <== ForcePadControl" $((before + 1))
}
# The physical size from extent, steps and resolution class, as the information read computes it.
physical() {
    local a=$1 b=$2 n=$3 c
    if [ "$n" -le 1 ]; then c=800; elif [ "$n" -le 15 ]; then c=$((800 + 10 * (n - 1))); else c=950; fi
    [ "$b" -le 1 ] && { echo 0; return; }
    echo $((b * (a * 2540 / (b * c)) + 200))
}

# ---- bad input leaves the prefix as it was --------------------------------------------------
# The registry where install writes (devices, their classes, interfaces and drivers, services,
# the settings key, the Windows version, the installer's own key), without what Wine itself
# changes there meanwhile: the service manager's count of starts, the desktop's video keys.
export_registry() {
    local k n=0
    for k in 'HKEY_LOCAL_MACHINE\System\CurrentControlSet' 'HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion' \
             'HKEY_LOCAL_MACHINE\Software\TavoVirtualLaptop'; do
        n=$((n + 1))
        TAVO_WINE_TIMEOUT=60 "$run" regedit /E "C:\\$1-$n.reg" "$k" >/dev/null 2>&1
        [ -f "$c_drive/$1-$n.reg" ] && iconv -f UTF-16LE -t UTF-8 "$c_drive/$1-$n.reg" | tr -d '\r'
    done | awk '/^\[/ { skip = ($0 == "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\ServiceCurrent]" ||
                              index($0, "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Video\\") == 1) } !skip'
}
export_registry clean >"$work/clean.reg"
printf '{\n  "description": "broken",\n  "windows": "12"\n}\n' >"$c_drive/bad.json"
while IFS='|' read -r name want_rc want_err args; do
    read -ra argv <<<"$args"
    vl "${argv[@]}"
    err="$(tr -d '\r' <"$work/err")"
    if [ "$rc" -eq "$want_rc" ] && grep -qF -- "$want_err" <<<"$err"; then pass "$name"; else fail "$name" "exit $rc (want $want_rc)" "stderr: $err"; fi
done <<'EOF'
a missing laptop file is refused|2|C:\missing.json: expected a readable laptop file|install C:\missing.json
a malformed laptop file is refused naming file, line and field|2|C:\bad.json:3: /windows: expected "10", "11"|install C:\bad.json
an unknown subcommand is refused|2|unknown command "frob"|frob
a bad Windows override is refused|2|--windows takes 10 or 11|install forcepad --windows 9
nothing to remove is said so|2|no virtual laptop is installed|remove
EOF
export_registry refused >"$work/refused.reg"
# Files, without the programs the test copies in and the service's own trace.
files() {
    (cd "$c_drive" && find . -path ./vlaptop -prune -o -path './Program Files/TAVO' -prune -o \
        -path ./windows/system32/LogFiles -prune -o ! -name '*.reg' -print | sort)
}
files >"$work/clean.files"
if diff -q "$work/clean.reg" "$work/refused.reg" >/dev/null; then pass "refused input left the registry as it was"; else fail "refused input left the registry as it was" "$(diff "$work/clean.reg" "$work/refused.reg" | head -20)"; fi

# ==== Windows 11: the forcepad laptop with its pointing stick, the settings application present ====
vl install forcepad --companion
if [ "$rc" -eq 0 ] && grep -q '^hid vendor: ROOT\\VID_2C7E&PID_4A51\\0001 \\\\?\\hid#vid_2c7e&pid_4a51#0001#' <<<"$out"; then
    pass "the forcepad laptop is made"
else
    fail "the forcepad laptop is made" "exit $rc" "$out" "$(cat "$work/err")"
fi
svc -install
wait_count "4: Service in OnStart--" 1
expect "the service manager starts the service" RUNNING "$(state)"

# ---- start ----
# The laptop's HID devices in Wine's order: keyboard, pointer, vendor, then Wine's own two.
start_lines=("4: ScanTavoHidDevice::Hid Device Count = 5" "4: Device Logical  (0, 65535)" "4: Device Physical (0, 0)"
             "4: ScanTavoHidDevice::HID Device Select Index = 2, Hwid = HID\\VID_2C7E&PID_4A51\\0001"
             "4: Find TAVO HID Device" "4: BiosEnableTP = 1" "4: Close TAVO HID Device"
             "4: [GetPSTDeivce] Find TAVO PST Device" "4: [OnStart] ReadPSTStatusFromDM = 1"
             "4: [SupportForcepad] After value = 0x0001" "4: [BIOSEnableForcepad] After value = 0x8000"
             "4: [DMEnableForcepad] HardwareId = HID\\VEN_TAVO&DEV_0C5E&Col01" "4: [DMEnableForcepad] Found TAVO Forcepad Device"
             "4: [DMEnableForcepad] Device is Enabled in Device Manager"
             "4: [ReadForcepadCapability] Exit <== ReadForcepadCapability(), Result = 1")
log="$(lines)"
at=0
missing=""
for want in "${start_lines[@]}"; do
    n="$(tail -n +$((at + 1)) <<<"$log" | grep -nxF -m1 -- "$want" | cut -d: -f1)"
    if [ -z "$n" ]; then missing="$want"; break; fi
    at=$((at + n))
done
if [ -z "$missing" ]; then pass "the start selects the pad, reads it, sees the stick and the forcepad"; else fail "start trace in order" "missing or out of order: $missing"; fi
expect "the stick before the pad's probes: BIOSEnablePSTStatus, ForcepadCapability in force" "1 1" \
    "$(stored "$key" BIOSEnablePSTStatus ForcepadCapability)"
pad_got start "the start reads the information, then the forcepad capability" <<'EOF'
R 0x0105 0x1E14
R 0x0106 0x0C80
R 0x0107 0x0800
R 0x0108 0x0303
R 0x0365 0x8000
R 0x0104 0x0001
R 0x0365 0x8000
EOF
for row in "2 width 0x0C80 0x14 0x03" "3 height 0x0800 0x1E 0x03"; do
    read -r fn what extent steps class <<<"$row"
    size="$(physical $((extent)) $((steps)) $((class)))"
    ctl data "$fn"
    expect "tavoctl data $fn gives the $what the pad's values give" \
        "Touchpad data $fn (physical $what): $size ($((size / 100)).$(printf '%02d' $((size % 100))) mm)" "$out"
done
ctl status
expect "tavoctl status: BIOS bit from 0x0365, no PTP setting stored, the pad's node in the device manager" "Touchpad status: 0x07" "$(head -1 <<<"$out")"
pad_got status "the status query sends nothing to the pad" </dev/null

# ---- the settings application sets the forcepad options ----
# item 4, haptic off, strength 75, finger force 1, click force 2, top zone off, button force 0,
# top zone not greyed out, chosen by hand.
sent=(4 0 75 1 2 0 0 1 1)
ctl forcepad set item=4 haptic=0 haptic-strength=75 finger-force=1 click-force=2 top-zone=0 button-force=0 top-zone-available=1 top-zone-manual=1
expect "tavoctl forcepad set is stored (exit 0)" 0 "$rc"
expect "the forcepad set is stored for the console user ($user)" "${sent[*]}" "$(stored "$key\\$user" "${forcepad_names[@]}")"
expect "the forcepad set is in force" "${sent[*]}" "$(stored "$key" "${forcepad_names[@]}")"
# Windows 11 composes no word: items 1 and 2 only read the option word, item 5 changes bit 1
# of what the pad holds (top zone off) and reads it back.
win11_items='R 0x03A1 0x0307
R 0x03A1 0x0307
R 0x03A1 0x0307
R 0x03A1 0x0307
W 0x03A2 0x00C0
W 0x03A3 0x009A
W 0x03A4 0x003C
R 0x03A1 0x0307
W 0x03A1 0x0305
R 0x03A1 0x0305
R 0x03A1 0x0305
W 0x03A9 0x0050
W 0x03AA 0x003C'
pad_got forcepad-set "Windows 11: the pad receives items 1 to 6 of the set" <<<"$win11_items"

ctl palm set 2 11 22 33 44
expect "tavoctl palm set is stored (exit 0)" 0 "$rc"
ctl palm get
palm_in_force="$(stored "$key" "${palm_names[@]}")"
if grep -q "2.*11.*22.*33.*44" <<<"$(tr '\n' ' ' <<<"$out")" && [ "$palm_in_force" == "2 11 22 33 44" ]; then
    pass "the palm set is read back and in force"
else
    fail "the palm set is read back and in force" "get: $out" "in force: $palm_in_force"
fi
pad_got palm-set "palm check sends nothing to the pad" </dev/null

ctl meter
expect "tavoctl meter runs (exit 0)" 0 "$rc"
pad_got meter "metering reads function 0x0101" <<<'R 0x0101 0x0001'

# ---- the agent beside the service: one toggle report makes the service push again ----
TAVO_WINE_TIMEOUT=600 "$run" 'C:\Program Files\TAVO\KVRInput.exe' >/dev/null 2>&1 &
agent_pid=$!
probe() { wine_run 'C:\Program Files\TAVO\agent_probe.exe' "$@"; }
probe wait-agent 20
if [[ "$out" == "dummy=1 "* ]]; then pass "the agent runs beside the service"; else fail "the agent runs beside the service" "$out"; fi
aabb="$(stored "$key" AABB)"
before="$(count "4: Exit <== ForcePadControl")"
probe inject zero 3000
wait_count "4: Exit <== ForcePadControl" $((before + 1))
aabb=$((1 - aabb))
expect "the toggle report flips AABB" "$aabb" "$(stored "$key" AABB)"
pushed_again='R 0x03A1 0x0305
R 0x03A1 0x0305
R 0x03A1 0x0305
R 0x03A1 0x0305
W 0x03A2 0x00C0
W 0x03A3 0x009A
W 0x03A4 0x003C
R 0x03A1 0x0305
W 0x03A1 0x0305
R 0x03A1 0x0305
R 0x03A1 0x0305
W 0x03A9 0x0050
W 0x03AA 0x003C'
pad_got toggle "one toggle report pushes items 1 to 6 again" <<<"$pushed_again"

# ---- the pointing-stick program's events push item 5 ----
while IFS='|' read -r event key_name want_rows want_stored; do
    before="$(count "4: [SetForcePadFunction] Exit <== SetForcePadFunction")"
    wine_run 'C:\Program Files\TAVO\set-named-event.exe' "Global\\$event"
    wait_count "4: [SetForcePadFunction] Exit <== SetForcePadFunction" $((before + 1))
    sleep 0.5  # the two stores after the push
    pad_got "$key_name" "$event pushes item 5" <<<"$(tr ';' '\n' <<<"$want_rows")"
    expect "$event is stored for the user and in force" "$want_stored $want_stored" \
        "$(stored "$key\\$user" "${forcepad_names[@]}") $(stored "$key" "${forcepad_names[@]}")"
done <<'EOF'
VQSMessage_PST_ON|pst-on|R 0x03A1 0x0305;W 0x03A1 0x0307;R 0x03A1 0x0307|5 0 75 1 2 1 0 1 1
VQSMessage_PST_OFF|pst-off|R 0x03A1 0x0307;W 0x03A1 0x0305;R 0x03A1 0x0305|5 0 75 1 2 0 0 0 1
EOF

# ---- faults: the pad refuses everything, then is unplugged, while the service runs ----
# The stored record now has item 5, top zone off: every push is items 1 to 6 of it.
vl refuse all
reapply
refused_rows="$(for _ in 1 2 3 4 5 6; do echo "R! 0x03A1"; done)"
pad_got refused "a pad that refuses everything gets one refused request per item" <<<"$refused_rows"
expect "each refused request is logged" 6 "$(count "4: [SetForcePadFunction] Get Original_Value Fail")"
ctl status
expect "the service answers tavoctl while the pad refuses" "0 Touchpad status: 0x07" "$rc $(head -1 <<<"$out")"
vl refuse none
reapply
pad_got accepted "once the pad accepts again the next occasion reaches it" <<<"$pushed_again"

vl unplug
expect "the pad is unplugged" "vendor unplugged" "$out"
reapply
expect "each push logs the missing pad" 6 "$(count "4: [SetForcePadFunction] Cannot Find TAVO HID Device")"
ctl data 2
expect "the service answers tavoctl while the pad is away" "0 Touchpad data 2 (physical width): 10100 (101.00 mm)" "$rc $out"
vl plug
expect "the pad is plugged in again" "vendor plugged in" "$out"
pad_got unplugged "the unplugged pad received nothing" </dev/null
reapply
pad_got plugged "after the pad returns the next occasion reaches it again" <<<"$pushed_again"
expect "the service ran throughout" "RUNNING 1" "$(state) $(count "4: Service in OnStart++")"

# ---- stop: the session-end reports, every user's store reset ----
for u in alice bob; do
    set_dword "$key\\$u" PalmCheck_Level 3
    set_dword "$key\\$u" ClickForceCheckOption 2
done
svc -remove
expect "the service is stopped and removed" "Stopping TAVOPTPService.;TAVOPTPService is stopped.;TAVOPTPService is removed." "$(tr '\n' ';' <<<"$out" | sed 's/;$//')"
# The forcepad defaults' item 7; Windows 11 sets bit 1 of what the pad holds (the stick is there).
pad_got stop "Windows 11: the stop pushes the default set" <<'EOF'
R 0x03A1 0x0305
W 0x03A1 0x0307
W 0x03A2 0x00A0
W 0x03A3 0x0080
W 0x03A4 0x003C
W 0x03A9 0x006E
W 0x03AA 0x0042
EOF
for u in "$user" alice bob; do
    expect "the stop resets $u's store to the defaults" "2 0 0 0 0 7 1 50 0 1 1 0 1 1" \
        "$(stored "$key\\$u" "${palm_names[@]}") $(stored "$key\\$u" "${forcepad_names[@]}")"
done
kill "$agent_pid" 2>/dev/null
wait "$agent_pid" 2>/dev/null
agent_pid=""
# The next start writes a trace of its own.
mv "$trace" "$work/trace-windows11.log"

# ==== Windows 10, with two HID devices after the pad that must never be selected ====
vl remove
expect "the laptop is taken away" removed "$out"
vl install "$decoys" --companion
expect "the decoy laptop is made" 0 "$rc"
svc -install
wait_count "4: Service in OnStart--" 1
step w10-start  # the start's reads, as above
sent=(2 1 25 0 0 0 2 1 0)
ctl forcepad set item=2 haptic=1 haptic-strength=25 finger-force=0 click-force=0 top-zone=0 button-force=2 top-zone-available=1 top-zone-manual=0
expect "the forcepad set is stored for the user and in force" "${sent[*]} ${sent[*]}" \
    "$(stored "$key\\$user" "${forcepad_names[@]}") $(stored "$key" "${forcepad_names[@]}")"
# Windows 10 composes the option word: haptic on, top zone off: 0x0305.
pad_got w10-set "Windows 10: the pad receives items 1 to 6 of the set" <<'EOF'
R 0x03A1 0x0307
W 0x03A1 0x0305
R 0x03A1 0x0305
W 0x03AB 0x5050
R 0x03A1 0x0305
R 0x03A1 0x0305
W 0x03A2 0x007A
W 0x03A3 0x0062
W 0x03A4 0x003C
R 0x03A1 0x0305
W 0x03A1 0x0305
R 0x03A1 0x0305
W 0x03A9 0x008C
W 0x03AA 0x0054
EOF
svc -remove
pad_got w10-stop "Windows 10: the stop pushes the default set" <<'EOF'
R 0x03A1 0x0305
W 0x03A1 0x0307
W 0x03AB 0x4040
W 0x03A2 0x00A0
W 0x03A3 0x0080
W 0x03A4 0x003C
W 0x03A9 0x006E
W 0x03AA 0x0042
EOF
expect "every scan selects the pad, never a device after it" \
    "4: ScanTavoHidDevice::HID Device Select Index = 0, Hwid = HID\\VID_2C7E&PID_4A51\\0000" \
    "$(lines | grep -F "ScanTavoHidDevice::HID Device Select Index" | grep -F "Hwid = " | sort -u)"
for decoy in no-report other-vendor; do pad_got "$decoy" "the $decoy device never receives a report" "$decoy" </dev/null; done

# ---- the same steps on the simulator give the same reports and registry values ----
sim_wire="$build_dir/../native/tests/virtual_laptop_wire"
if [ -x "$sim_wire" ]; then
    if "$sim_wire" forcepad "$here/laptops/decoys.json" "$user" >"$work/sim-wire.txt" 2>"$work/sim-wire.err" &&
        diff "$work/sim-wire.txt" "$wire_file" >"$work/wire.diff"; then
        pass "the simulator gives the virtual pad's reports and registry values, step by step"
    else
        fail "the simulator gives the virtual pad's reports and registry values, step by step" \
            "(< simulator, > Wine)" "$(head -40 "$work/wire.diff")" "$(cat "$work/sim-wire.err")"
    fi
else
    echo "SKIP: the simulator's side of the comparison is not built ($sim_wire: cmake --build --preset native)"
fi

# ---- remove takes away everything install made ----
vl remove
export_registry removed >"$work/removed.reg"
if diff "$work/clean.reg" "$work/removed.reg" >"$work/diff"; then
    pass "remove leaves the registry as it was before install"
else
    fail "remove leaves the registry as it was before install" "$(head -30 "$work/diff")"
fi

files >"$work/removed.files"
if diff "$work/clean.files" "$work/removed.files" >"$work/diff"; then
    pass "remove leaves the files as they were before install"
else
    fail "remove leaves the files as they were before install" "$(head -30 "$work/diff")"
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
