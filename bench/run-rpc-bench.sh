#!/usr/bin/env bash
# Prints the round-trip cost of the service's ProcessGetTouchpadData(99) under Wine against
# a bare interface built the same way, with 1, 16 and 64 concurrent clients. Builds the
# Windows programs, serves both interfaces from a private prefix (the service with -console),
# runs the client, then ends both servers and the prefix's wineserver. It prints figures and
# fails only when nothing could be measured. Not part of the test suite.
# Usage: bench/run-rpc-bench.sh [--service-manager] [--no-trace] [client options: --clients 1,16,64 --seconds S --rounds R]
#   --service-manager  the service runs as the service manager starts it, not with -console
#                      (so its trace is not echoed to a console)
#   --no-trace         DisableEventLog=1 first: the service writes no trace file
# TAVO_BENCH_SERVICE=PATH measures that build of the service instead of this tree's.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
as_service=0
no_trace=0
while [ $# -gt 0 ]; do
    case "$1" in
        --service-manager) as_service=1 ;;
        --no-trace) no_trace=1 ;;
        *) break ;;
    esac
    shift
done

scripts/install-deps.sh || exit 1
cmake --preset windows >/dev/null || exit 1
cmake --build --preset windows -j2 --target TavoTouchpadService rpc_bare_server rpc_roundtrip_bench || exit 1

build="$root/build/windows"
export TAVO_WINEPREFIX="$build/wineprefix-rpc-bench"
export WINEPREFIX="$TAVO_WINEPREFIX" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
run="$root/scripts/wine-run.sh"
client="$build/bench/rpc_roundtrip_bench.exe"
# TAVO_BENCH_SERVICE names another build of the service to measure (an earlier one, say).
service_exe="${TAVO_BENCH_SERVICE:-$build/TavoTouchpadService.exe}"
logs="$build/rpc-bench-logs"
mkdir -p "$logs"

service_pid=""
bare_pid=""
cleanup() {
    local pid
    for pid in $service_pid $bare_pid; do kill "$pid" 2>/dev/null; done
    for pid in $service_pid $bare_pid; do wait "$pid" 2>/dev/null; done
    [ "$as_service" -eq 1 ] && TAVO_WINE_TIMEOUT=60 "$run" "$service_exe" -remove >/dev/null 2>&1
    service_pid=""
    bare_pid=""
    timeout 30 wineserver -k >/dev/null 2>&1 || true
}
trap cleanup EXIT
# A run that was cut short may have left this prefix's servers running.
timeout 30 wineserver -k >/dev/null 2>&1 || true
# Background servers need a persistent wineserver; this also creates the prefix on first use.
"$root/scripts/wine-service-host.sh" || { echo "could not prepare the Wine prefix $WINEPREFIX"; exit 1; }

[ "$no_trace" -eq 1 ] &&
    TAVO_WINE_TIMEOUT=60 "$run" reg add 'HKLM\System\CurrentControlSet\Control\Brindlex_PTP' /v DisableEventLog /t REG_DWORD /d 1 /f >/dev/null 2>&1
[ "$no_trace" -eq 0 ] &&
    TAVO_WINE_TIMEOUT=60 "$run" reg delete 'HKLM\System\CurrentControlSet\Control\Brindlex_PTP' /v DisableEventLog /f >/dev/null 2>&1
# The time-outs only bound a forgotten server; both are ended below.
if [ "$as_service" -eq 1 ]; then
    TAVO_WINE_TIMEOUT=60 "$run" "$service_exe" -install </dev/null >"$logs/service.log" 2>&1
    # Stands for the service's process in the checks below: it runs until the cleanup.
    sleep 900 &
    service_pid=$!
else
    TAVO_WINE_TIMEOUT=900 "$run" "$service_exe" -console </dev/null >"$logs/service.log" 2>&1 &
    service_pid=$!
fi
TAVO_WINE_TIMEOUT=900 "$run" "$build/bench/rpc_bare_server.exe" </dev/null >"$logs/bare.log" 2>&1 &
bare_pid=$!

probe() { TAVO_WINE_TIMEOUT=30 "$run" "$client" --probe "$1" >/dev/null 2>&1; }
# 0 once the side answers an open and close; 1 when its process has ended; 2 on time-out.
wait_for() {  # side, pid, seconds
    local deadline=$((SECONDS + $3))
    while [ "$SECONDS" -lt "$deadline" ]; do
        probe "$1" && return 0
        kill -0 "$2" 2>/dev/null || return 1
        sleep 0.5
    done
    return 2
}
show_log() { sed -e 's/\r$//' -e 's/^/    /' "$1" | tail -n 15; }

wait_for bare "$bare_pid" 30
case $? in
    0) ;;
    1) echo "rpc_bare_server.exe ended without serving; its output:"; show_log "$logs/bare.log"; exit 1 ;;
    *) echo "rpc_bare_server.exe does not answer after 30 s; its output:"; show_log "$logs/bare.log"; exit 1 ;;
esac

# The service opens its endpoint, then waits a second (longer after a duplicate endpoint)
# before it registers the interface.
wait_for service "$service_pid" 40
service_state=$?
if [ "$service_state" -ne 0 ]; then
    echo "=================================================================================="
    if [ "$service_state" -eq 1 ]; then
        wait "$service_pid"
        echo "THE SERVICE IS NOT ANSWERING: 'TavoTouchpadService.exe -console' ended (exit status $?)"
        service_pid=""
    else
        echo "THE SERVICE IS NOT ANSWERING: 'TavoTouchpadService.exe -console' runs but has not"
        echo "served ncalrpc:[HsaSampleRpcEndpoint2] within 40 s"
    fi
    echo "Its output ($logs/service.log):"
    show_log "$logs/service.log"
    echo "Only the bare interface's figures follow."
    echo "=================================================================================="
fi

echo "service: $([ "$as_service" -eq 1 ] && echo "run by the service manager" || echo "-console, its trace echoed to $logs/service.log"), trace file $([ "$no_trace" -eq 1 ] && echo off || echo on)"
# CPU of each server's Linux process (Wine runs a Windows program as one, its command line
# the program's Windows or Unix path) over the client's run, per call it served: what the procedure and its stub cost the
# server, whatever the load makes of the medians.
linux_pid() { for p in /proc/[0-9]*; do
    tr '\0' '\n' 2>/dev/null <"$p/environ" | grep -qxF "WINEPREFIX=$TAVO_WINEPREFIX" || continue
    [ "$(tr '\0' '\n' 2>/dev/null <"$p/cmdline" | head -n1 | sed 's|.*[\\/]||')" == "$1" ] && echo "${p#/proc/}"
done | head -n1; }
ticks() { [ -n "$1" ] && awk '{sub(/^.*\) /, ""); print $12 + $13}' "/proc/$1/stat" 2>/dev/null || echo 0; }
service_linux="$(linux_pid "$(basename "$service_exe")")"
bare_linux="$(linux_pid rpc_bare_server.exe)"
echo "linux processes: service ${service_linux:-not found}, bare ${bare_linux:-not found}"
service_ticks="$(ticks "$service_linux")"
bare_ticks="$(ticks "$bare_linux")"
echo "host: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) before the run (other work widens the spread)"
TAVO_WINE_TIMEOUT=300 "$run" "$client" --wait 0 "$@" | tr -d '\r' | tee "$logs/client.txt"
status=${PIPESTATUS[0]}
awk -v s="$(($(ticks "$service_linux") - service_ticks))" -v b="$(($(ticks "$bare_linux") - bare_ticks))" -v hz="$(getconf CLK_TCK)" '
    /^each case: / { rounds = $3 }
    /^rpc round trip, [0-9]+ client/ { extra = 5 * $4 * rounds }  # 3 warm-up calls, open, close
    /^  calls: service/ { gsub(/[(),]/, " "); sc += $3 + extra; bc += $6 + extra }
    /^  calls: bare/ { gsub(/[(),]/, " "); bc += $3 + extra }
    END { if (bc > 0) printf "server CPU per call over all cases (warm-up, open and close counted as calls): service %s, bare %.0f us\n",
                             (sc > 0 ? sprintf("%.0f us", s * 1e6 / hz / sc) : "-"), b * 1e6 / hz / bc }' "$logs/client.txt"
[ "$status" -eq 124 ] && echo "the client did not finish within 300 s"
echo "server output: $logs/service.log, $logs/bare.log"
exit "$status"
