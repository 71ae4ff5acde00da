#!/usr/bin/env bash
# Prints the round-trip cost of the service's ProcessGetTouchpadData(99) under Wine against
# a bare interface built the same way, with 1, 16 and 64 concurrent clients. Builds the
# Windows programs, serves both interfaces from a private prefix (the service with -console),
# runs the client, then ends both servers and the prefix's wineserver. It prints figures and
# fails only when nothing could be measured. Not part of the test suite.
# Usage: bench/run-rpc-bench.sh [client options: --clients 1,16,64 --seconds S --rounds R]
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

scripts/install-deps.sh || exit 1
cmake --preset windows >/dev/null || exit 1
cmake --build --preset windows -j2 --target TavoTouchpadService rpc_bare_server rpc_roundtrip_bench || exit 1

build="$root/build/windows"
export TAVO_WINEPREFIX="$build/wineprefix-rpc-bench"
export WINEPREFIX="$TAVO_WINEPREFIX" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
run="$root/scripts/wine-run.sh"
client="$build/bench/rpc_roundtrip_bench.exe"
logs="$build/rpc-bench-logs"
mkdir -p "$logs"

service_pid=""
bare_pid=""
cleanup() {
    local pid
    for pid in $service_pid $bare_pid; do kill "$pid" 2>/dev/null; done
    for pid in $service_pid $bare_pid; do wait "$pid" 2>/dev/null; done
    service_pid=""
    bare_pid=""
    timeout 30 wineserver -k >/dev/null 2>&1 || true
}
trap cleanup EXIT
# A run that was cut short may have left this prefix's servers running.
timeout 30 wineserver -k >/dev/null 2>&1 || true
# Background servers need a persistent wineserver; this also creates the prefix on first use.
"$root/scripts/wine-service-host.sh" || { echo "could not prepare the Wine prefix $WINEPREFIX"; exit 1; }

# The time-outs only bound a forgotten server; both are ended below.
TAVO_WINE_TIMEOUT=900 "$run" "$build/TavoTouchpadService.exe" -console </dev/null >"$logs/service.log" 2>&1 &
service_pid=$!
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

echo "host: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) before the run (other work widens the spread)"
TAVO_WINE_TIMEOUT=300 "$run" "$client" --wait 0 "$@" | tr -d '\r'
status=${PIPESTATUS[0]}
[ "$status" -eq 124 ] && echo "the client did not finish within 300 s"
echo "server output: $logs/service.log, $logs/bare.log"
exit "$status"
