#!/usr/bin/env bash
# Prepares $TAVO_WINEPREFIX to host a service: creates the prefix if needed and leaves a
# persistent wineserver running for it. Services are not user processes, so Wine would end
# them with their last client; a running server refuses -p, so the one that created the
# prefix is replaced. The caller ends it with `wineserver -k` for the same prefix.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
: "${TAVO_WINEPREFIX:?TAVO_WINEPREFIX names the prefix}"
export WINEPREFIX="$TAVO_WINEPREFIX"
"$here/wine-run.sh" cmd /c exit >/dev/null 2>&1 || true
timeout 30 wineserver -k >/dev/null 2>&1 || true
timeout 30 wineserver -w >/dev/null 2>&1 || true
timeout 30 wineserver -p
