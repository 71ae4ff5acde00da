#!/usr/bin/env bash
# Prints what the running service and the input agent cost under Wine while nothing happens,
# and how long the service takes to start. Figures only; not part of the test suite.
#  - Idle: CPU time (user and system clock ticks, /proc/<pid>/stat) and wake-ups (voluntary
#    context switches, /proc/<pid>/task/*/status) over SECONDS of the Linux processes that
#    Wine runs TavoTouchpadService.exe and KVRInput.exe as, thread by thread, and of Wine's
#    own processes of the prefix beside them. Both programs only wait on events and
#    messages: any tick or wake-up in their rows is worth a look.
#  - Start-up: StartService until the service reads RUNNING, RUNS times, min and median;
#    first without the driver package (the start then spends its five tries, half a second
#    apart, looking for it), then with the driver's key present as its package installs it.
# Builds the Windows programs, runs everything in a private prefix with a virtual X display,
# and ends what it started. Usage: bench/idle-cost.sh [SECONDS [RUNS]]   (30 and 5)
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
seconds="${1:-30}"
runs="${2:-5}"

scripts/install-deps.sh || exit 1
cmake --preset windows >/dev/null || exit 1
cmake --build --preset windows -j2 --target TavoTouchpadService KVRInput agent_probe service_start_bench || exit 1

build="$root/build/windows"
build_dir="$build" prefix_name=idle-bench
source "$root/tests/wine/lib.sh"
source "$root/scripts/virtual-display.sh"

trap end_agent_run EXIT
# A fresh prefix: no service or trace of an earlier run.
fresh_windowed_prefix $((seconds + 600)) || { echo "Xvfb or the Wine prefix $WINEPREFIX does not start"; exit 1; }

dir="$TAVO_WINEPREFIX/drive_c/Program Files/TAVO"
mkdir -p "$dir"
cp "$build/TavoTouchpadService.exe" "$build/KVRInput.exe" "$build/tests/agent_probe.exe" \
    "$build/bench/service_start_bench.exe" "$dir/"
exe='C:\Program Files\TAVO\TavoTouchpadService.exe'
trace="$TAVO_WINEPREFIX/drive_c/windows/system32/LogFiles/TAVO.log"
key='HKLM\System\CurrentControlSet\Control\Brindlex_PTP'
wreg() { TAVO_WINE_TIMEOUT=30 "$run" reg add "$@" /f >/dev/null 2>&1; }

# ---- the service and the agent running, then left alone ----
wreg "$key" /v AABB /t REG_DWORD /d 0  # the settings key, as the driver package leaves it
TAVO_WINE_TIMEOUT=60 "$run" "$exe" -install >/dev/null 2>&1
TAVO_WINE_TIMEOUT=$((seconds + 600)) "$run" 'C:\Program Files\TAVO\KVRInput.exe' >/dev/null 2>&1 &
agent_pid=$!
for _ in $(seq 1 60); do
    TAVO_WINE_TIMEOUT=30 "$run" sc query TAVOPTPService 2>/dev/null | grep -q RUNNING && break
    sleep 0.25
done
for _ in $(seq 1 40); do tr -d '\r' < "$trace" 2>/dev/null | grep -qxF "4: Service in OnStart--" && break; sleep 0.25; done
TAVO_WINE_TIMEOUT=30 "$run" 'C:\Program Files\TAVO\agent_probe.exe' wait-agent 20 >/dev/null 2>&1 ||
    echo "(the agent's window did not appear: its row shows an agent without raw-input sink)"
# The RPC interface registers about a second after the start: let it settle.
sleep 3

# One line per thread: pid name tid thread-name utime stime voluntary-switches.
snapshot() {
    local pid name t s fields vol
    while read -r pid name; do
        for t in /proc/"$pid"/task/*; do
            s="$(cat "$t/stat" 2>/dev/null)" || continue
            read -r -a fields <<<"${s##*) }"  # the name may hold blanks; the fields follow it
            vol="$(awk '/^voluntary_ctxt_switches/ {print $2}' "$t/status" 2>/dev/null)"
            echo "$pid $name ${t##*/} $(tr ' ' '_' < "$t/comm") ${fields[11]} ${fields[12]} ${vol:-0}"
        done
    done <<<"$processes"
}
processes="$(prefix_processes)"
before="$(snapshot)"
sleep "$seconds"
after="$(snapshot)"

echo "=== idle cost over $seconds s (clock tick $((1000 / $(getconf CLK_TCK))) ms; load average $(cut -d' ' -f1-3 /proc/loadavg))"
# Differences by thread; a thread that began during the window counts from zero.
deltas="$(awk 'NR == FNR { b[$3] = $5 " " $6 " " $7; next }
               { split(($3 in b) ? b[$3] : "0 0 0", o, " ");
                 print $1, $2, $3, $4, $5 - o[1], $6 - o[2], $7 - o[3] }' \
              <(echo "$before") <(echo "$after"))"
echo "process                           pid  user ticks  sys ticks  wake-ups  threads"
awk '{ k = $2 " " $1; u[k] += $5; s[k] += $6; w[k] += $7; n[k]++ }
     END { for (k in u) { split(k, p, " "); printf "%-30s %6d %11d %10d %9d %8d\n", p[1], p[2], u[k], s[k], w[k], n[k] } }' \
    <<<"$deltas" | sort -k1,1
by_thread() {  # pid
    awk -v p="$1" '$1 == p { printf "  %-7s %-18s user %3d  sys %3d  wake-ups %6d\n", $3, $4, $5, $6, $7 }' <<<"$deltas"
}
while read -r pid name; do
    case "$name" in
        TavoTouchpadService.exe | KVRInput.exe) ;;
        *) awk -v p="$pid" '$1 == p && $5 + $6 + $7 > 0 { busy = 1 } END { exit !busy }' <<<"$deltas" || continue ;;
    esac
    # A driver host says which drivers it holds.
    drivers="$(grep -o '[^/]*\.sys$' "/proc/$pid/maps" 2>/dev/null | sort -u | tr '\n' ' ')"
    echo "--- $name ($pid)${drivers:+, drivers: $drivers}, thread by thread"
    by_thread "$pid"
done <<<"$processes"

# ---- start-up ----
echo "=== the service's start under Wine's service control manager ($runs runs each)"
echo "--- without the driver package"
TAVO_WINE_TIMEOUT=600 "$run" 'C:\Program Files\TAVO\service_start_bench.exe' "$runs" 2>&1 | tr -d '\r'
class_key='HKLM\System\CurrentControlSet\Control\Class\{5c4c3332-344d-483c-8739-259e934c9cc8}\0000'
wreg "$class_key" /v DriverDesc /t REG_SZ /d "TAVO Pad Suite Component"
wreg "$class_key\\DefaultSettings" /v PalmDefaultOption /t REG_DWORD /d 1
echo "--- with the driver's key present (found at the first try)"
TAVO_WINE_TIMEOUT=600 "$run" 'C:\Program Files\TAVO\service_start_bench.exe' "$runs" 2>&1 | tr -d '\r'
if ! tr -d '\r' < "$trace" | grep -qxF "4: DriverDesc is TAVO Pad Suite Component"; then
    echo "(the service did not find the driver's key: the second set is not what it says)"
fi
TAVO_WINE_TIMEOUT=60 "$run" "$exe" -remove >/dev/null 2>&1
exit 0
