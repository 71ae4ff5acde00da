# Sourced by the scripts that run windowed programs under Wine (the input agent).
# start_virtual_display starts Xvfb on a free display, exports DISPLAY and makes
# scripts/wine-run.sh keep it; stop_virtual_display ends that Xvfb. Start it before the
# prefix's wineserver: Wine's desktop process keeps the display it was started with, and
# without one no window can be created.
virtual_display_pid=""

start_virtual_display() {  # [seconds the display may live; 900 unless given]
    local display_file
    display_file="$(mktemp)" || return 1
    # -displayfd lets Xvfb pick a free display and say which once it accepts clients.
    timeout "${1:-900}" Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
    virtual_display_pid=$!
    for _ in $(seq 1 100); do [ -s "$display_file" ] && break; sleep 0.1; done
    if [ ! -s "$display_file" ]; then
        rm -f "$display_file"
        stop_virtual_display
        return 1
    fi
    export DISPLAY=":$(head -n1 "$display_file")"
    export TAVO_WINE_KEEP_DISPLAY=1
    rm -f "$display_file"
}

stop_virtual_display() {
    [ -n "$virtual_display_pid" ] || return 0
    kill "$virtual_display_pid" 2>/dev/null || true
    wait "$virtual_display_pid" 2>/dev/null || true
    virtual_display_pid=""
}

# A fresh prefix ($TAVO_WINEPREFIX) for windowed programs beside a service: ends the server a
# cut-short run may have left, starts the display (before the prefix and its wineserver), and
# makes the prefix anew with a persistent server. Fails when the display does not start.
fresh_windowed_prefix() {  # [seconds the display may live; 900 unless given]
    timeout 30 wineserver -k >/dev/null 2>&1 || true
    start_virtual_display "${1:-900}" || return 1
    rm -rf "$TAVO_WINEPREFIX" "$TAVO_WINEPREFIX.lock"
    "$(dirname "${BASH_SOURCE[0]}")/wine-service-host.sh"
}

# Ends what a windowed run under Wine started, in order: the prefix's wineserver
# (WINEPREFIX), the program started in the background as agent_pid, then the display.
agent_pid=""
end_agent_run() {
    timeout 30 wineserver -k >/dev/null 2>&1 || true
    if [ -n "$agent_pid" ]; then
        kill "$agent_pid" 2>/dev/null || true
        wait "$agent_pid" 2>/dev/null || true
        agent_pid=""
    fi
    stop_virtual_display
}
