#!/usr/bin/env bash
# Soak under Wine: the real service on the virtual forcepad laptop, run by the service manager,
# with the input agent beside it. N RPC clients (one process, a thread, a binding and a
# context each) call every procedure for S seconds while another program sets the six named
# events in turn and sends the agent a toggle report twice a second; then the service is
# stopped and removed and everything that ran is ended.
# Prints: calls made and failed (each failure by procedure and status), the service's handle
# count, private bytes, working set and threads before, during (once a second) and after, as
# Windows reports them to another process, beside what Linux shows of the same process; CPU
# per call of the service and of the wineserver; what the toggles and events did.
# Exit status: 0, or 1 on failed calls, 3 when the handle count settled after the clients is more
# than the margin above the count before, 4 when the service's process ended (a crash) or its stop
# did not end it.
# Never on time. Usage:
#   bench/soak.sh [--clients 64] [--seconds 60] [--warmup 10] [--margin 16] [--bin BUILD_DIR]
# Without --bin it builds the programs with the windows preset first.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
clients=64 seconds=60 warmup=10 margin=16 bin=""
while [ $# -gt 0 ]; do
    case "$1" in
        --clients) clients="$2" ;;
        --seconds) seconds="$2" ;;
        --warmup) warmup="$2" ;;
        --margin) margin="$2" ;;
        --bin) bin="$(realpath "$2")" ;;
        *) echo "usage: $0 [--clients N] [--seconds S] [--warmup S] [--margin H] [--bin BUILD_DIR]" >&2; exit 2 ;;
    esac
    shift 2 || { echo "$0: $1 needs a value" >&2; exit 2; }
done
if [ -z "$bin" ]; then
    cd "$root"
    scripts/install-deps.sh || exit 1
    cmake --preset windows >/dev/null || exit 1
    cmake --build --preset windows -j2 --target TavoTouchpadService KVRInput tavoctl agent_probe rpc_soak vlaptop tavovpad ||
        exit 1
    bin="$root/build/windows"
fi

build_dir="$bin"
prefix_name=soak
source "$root/tests/wine/lib.sh"
source "$root/scripts/virtual-display.sh"
work="$(mktemp -d)"
others_pid=""
linux_sampler_pid=""
finish() {
    for pid in $others_pid $linux_sampler_pid; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
    end_agent_run
    rm -rf "$work"
}
trap finish EXIT
fresh_windowed_prefix $((seconds + 600)) || { echo "Xvfb or the Wine prefix $WINEPREFIX does not start"; exit 1; }

c_drive="$TAVO_WINEPREFIX/drive_c"
dir="$c_drive/Program Files/TAVO"
mkdir -p "$dir" "$c_drive/vlaptop"
cp "$bin/TavoTouchpadService.exe" "$bin/KVRInput.exe" "$bin/tools/tavoctl/tavoctl.exe" "$bin/tests/agent_probe.exe" \
   "$bin/tests/rpc_soak.exe" "$dir/" || exit 1
cp "$bin/tests/vlaptop.exe" "$bin/tests/tavovpad.sys" "$root/tests/wine/vlaptop/driver/tavovpad.inf" "$c_drive/vlaptop/" || exit 1
trace="$c_drive/windows/system32/LogFiles/TAVO.log"
wine_run() { TAVO_WINE_TIMEOUT="${timeout:-60}" "$run" "$@" 2>/dev/null | tr -d '\r'; }
state() { wine_run sc query TAVOPTPService | awk '/STATE/ {print $4}'; }
lines() { tr -d '\r' <"$trace" 2>/dev/null; }

ticks() { awk '{sub(/^.*\) /, ""); print $12 + $13}' "/proc/$1/stat" 2>/dev/null || echo 0; }

# ---- the laptop, the service, the agent ----
wine_run 'C:\vlaptop\vlaptop.exe' install forcepad --companion >"$work/install" ||
    { echo "the virtual laptop could not be made:"; cat "$work/install"; exit 1; }
wine_run 'C:\Program Files\TAVO\TavoTouchpadService.exe' -install >/dev/null
for _ in $(seq 1 80); do lines | grep -qxF "4: Service in OnStart--" && break; sleep 0.25; done
[ "$(state)" == RUNNING ] || { echo "the service does not run; its trace:"; lines | tail -20; exit 4; }
TAVO_WINE_TIMEOUT=$((seconds + 300)) "$run" 'C:\Program Files\TAVO\KVRInput.exe' >/dev/null 2>&1 &
agent_pid=$!
agent="$(wine_run 'C:\Program Files\TAVO\agent_probe.exe' wait-agent 20)"
[[ "$agent" == "dummy=1 "* ]] || echo "(the agent's window did not appear: toggle reports reach no agent) $agent"
for _ in $(seq 1 40); do wine_run 'C:\Program Files\TAVO\tavoctl.exe' status >/dev/null && break; sleep 0.5; done
service_pid="$(prefix_processes | awk '$2 == "TavoTouchpadService.exe" {print $1}')"
server_pid="$(prefix_processes | awk '$2 == "wineserver" {print $1}')"
echo "host: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) at the start; $(wine --version)"
wine_run 'C:\Program Files\TAVO\rpc_soak.exe' counters

# ---- the soak ----
mark="$(lines | wc -l)"
aabb_before="$(wine_run reg query 'HKLM\System\CurrentControlSet\Control\Brindlex_PTP' /v AABB | awk '$1 == "AABB" {print $3}')"
# What Linux shows of the service's process, every 5 s: resident and anonymous memory,
# open file descriptors, threads.
linux_sample() {  # label
    local rss anon fds threads
    rss="$(awk '/^VmRSS/ {print $2}' "/proc/$service_pid/status" 2>/dev/null)"
    anon="$(awk '/^RssAnon/ {print $2}' "/proc/$service_pid/status" 2>/dev/null)"
    threads="$(awk '/^Threads/ {print $2}' "/proc/$service_pid/status" 2>/dev/null)"
    fds="$(ls "/proc/$service_pid/fd" 2>/dev/null | wc -l)"
    echo "linux  $1 rss_kb=${rss:--} anon_kb=${anon:--} fds=$fds threads=${threads:--}"
}
linux_sample before
(
    start=$SECONDS
    while sleep 5; do linux_sample "t=$((SECONDS - start))s"; done
) >"$work/linux" &
linux_sampler_pid=$!
service_ticks0="$(ticks "$service_pid")"
server_ticks0="$(ticks "$server_pid")"
TAVO_WINE_TIMEOUT=$((seconds + 120)) "$run" 'C:\Program Files\TAVO\rpc_soak.exe' others --seconds "$seconds" \
    >"$work/others" 2>&1 &
others_pid=$!
timeout=$((seconds + 180)) wine_run 'C:\Program Files\TAVO\rpc_soak.exe' clients --clients "$clients" --seconds "$seconds" \
    --warmup "$warmup" --margin "$margin" >"$work/clients"
status=$?  # the client's (pipefail)
# The client waits 3 s after its last call before its last sample.
service_ticks1="$(ticks "$service_pid")"
server_ticks1="$(ticks "$server_pid")"
wait "$others_pid"
others_status=$?
others_pid=""
kill "$linux_sampler_pid" 2>/dev/null
wait "$linux_sampler_pid" 2>/dev/null
linux_sampler_pid=""
cat "$work/clients"
[ -s "$work/clients" ] || { echo "the clients printed nothing"; status=1; }
cat "$work/linux"
linux_sample after
calls="$(awk '/^calls / {print $2}' "$work/clients")"
hz="$(getconf CLK_TCK)"
if [ "${calls:-0}" -gt 0 ]; then
    awk -v s="$((service_ticks1 - service_ticks0))" -v w="$((server_ticks1 - server_ticks0))" -v c="$calls" -v hz="$hz" \
        'BEGIN { printf "linux CPU over the run: service %.0f ms (%.1f us per call), wineserver %.0f ms (%.1f us per call)\n",
                 s * 1000 / hz, s * 1e6 / hz / c, w * 1000 / hz, w * 1e6 / hz / c }'
fi

# What the toggles and the named events did, from the service's trace.
since() { lines | tail -n +$((mark + 1)); }
tr -d '\r' <"$work/others"
echo "trace: $(since | grep -cF "4: RegRead_AABB::Read AABB") AABB changes read by the monitor (AABB $aabb_before before)," \
     "$(since | grep -cF "[GetAPIStatusFunc] API SetEvent") API events and" \
     "$(since | grep -cF "Triggered, PST UI") pointing-stick events taken"
[ "$others_status" -eq 0 ] || { echo "FAILED: the other program's calls failed"; [ "$status" -eq 0 ] && status=1; }

# ---- the stop, then nothing left ----
wine_run sc stop TAVOPTPService >/dev/null
for _ in $(seq 1 120); do [ "$(state)" == STOPPED ] && break; sleep 0.25; done
stopped="$(state)"
for _ in $(seq 1 40); do [ -d "/proc/$service_pid" ] || break; sleep 0.25; done
if [ "$stopped" == STOPPED ] && lines | grep -qxF "4: Service in OnStop--" && [ ! -d "/proc/$service_pid" ]; then
    echo "stop: STOPPED, \"Service in OnStop--\" in the trace, the service's process ended"
else
    echo "FAILED: the stop left the service $stopped$([ -d "/proc/$service_pid" ] && echo ", its process still running")"
    status=4
fi
wine_run 'C:\Program Files\TAVO\TavoTouchpadService.exe' -remove >/dev/null
kill "$agent_pid" 2>/dev/null
wait "$agent_pid" 2>/dev/null
agent_pid=""
timeout 30 wineserver -k >/dev/null 2>&1
sleep 0.5
left="$(prefix_processes | tr '\n' ' ')"
echo "left running in the prefix after wineserver -k: ${left:-nothing}"
echo "soak status: $status"
exit "$status"
