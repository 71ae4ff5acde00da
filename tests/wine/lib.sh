# Sourced by the Wine integration tests: the private prefix's environment and the PASS/FAIL
# bookkeeping. Set build_dir and prefix_name before sourcing.
export TAVO_WINEPREFIX="$build_dir/wineprefix-$prefix_name"
export WINEPREFIX="$TAVO_WINEPREFIX"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
run="$(cd "$(dirname "${BASH_SOURCE[0]}")/../../scripts" && pwd)/wine-run.sh"

passed=0
failed=0
pass() { echo "PASS: $1"; passed=$((passed + 1)); }
fail() { echo "FAIL: $1"; shift; printf '  %s\n' "$@"; failed=$((failed + 1)); }

# The prefix's Linux processes, "pid name" a line: Windows programs (their command line is
# the Windows path) and the wineserver.
prefix_processes() {
    local p cmd
    for p in /proc/[0-9]*; do
        tr '\0' '\n' 2>/dev/null <"$p/environ" | grep -qxF "WINEPREFIX=$TAVO_WINEPREFIX" || continue
        cmd="$(tr '\0' '\n' 2>/dev/null <"$p/cmdline" | head -n1)"
        case "$cmd" in
            [A-Za-z]:\\*) echo "${p#/proc/} ${cmd##*\\}" ;;
            */wineserver*) echo "${p#/proc/} wineserver" ;;
        esac
    done
}
