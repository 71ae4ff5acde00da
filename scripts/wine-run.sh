#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's private prefix, creating the prefix
# on first use. The prefix lives in the build tree unless TAVO_WINEPREFIX names another.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
export WINEPREFIX="${TAVO_WINEPREFIX:-$here/../build/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Without an X server Wine cannot create windows; programs that need them opt in.
[ "${TAVO_WINE_KEEP_DISPLAY:-0}" = 1 ] || unset DISPLAY
mkdir -p "$(dirname "$WINEPREFIX")"
(
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        timeout 300 wineboot -i >/dev/null 2>&1 || true
        timeout 120 wineserver -w || true
    fi
) 9>"$WINEPREFIX.lock"
exec timeout "${TAVO_WINE_TIMEOUT:-120}" wine "$@"
