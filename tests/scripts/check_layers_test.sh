#!/usr/bin/env bash
# scripts/check-layers.sh on tiny fake trees: each row adds one include to a tree that
# passes, and says whether the check must refuse it and what it must print.
set -uo pipefail
check="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/check-layers.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# file that gets the include | the include line | exit code | text the output must hold ("" for none)
rows=(
    'src/device/probe.cpp|#include "settings/store.h"|1|src/device/probe.cpp:3: #include "settings/store.h": device may not include settings'
    'src/common/state.cpp|  #  include <service/host.h>|1|src/common/state.cpp:2: #include <service/host.h>: common may not include service'
    'src/log/trace.cpp|#include "../monitors/watch.h"|1|src/log/trace.cpp:2: #include "../monitors/watch.h": log may not include monitors'
    'src/agent/win32/app.cpp|#include "settings/store.h"|1|agent may include only platform, common and log'
    'src/monitors/watch.cpp|#include "rule.h"|1|nothing outside agent includes agent'
    'src/service/host.cpp|#include "laptops/laptop.h"|1|nothing in src/ but laptops includes laptops'
    'src/gadgets/gadget.cpp|#include "log/trace.h"|1|src/gadgets/ has no place in the layer order'
    'src/registry/values.cpp|#include "../../tests/fixture.h"|1|src/ includes nothing outside src/'
    'src/monitors/allowed.cpp|#include "service/host.h"|0|'
    'src/agent/win32/app.cpp|#include "rule.h"|0|'
    'src/laptops/laptop.cpp|#include "service/host.h"|0|'
    'src/service/host.cpp|#include "touchpad_rpc.h"|0|'
)

# The tree every row starts from: one file in each folder, including nothing of ours.
base="$work/base"
for f in src/platform/seam.h src/common/state.cpp src/log/trace.h src/log/trace.cpp src/registry/values.cpp \
         src/device/probe.cpp src/settings/store.h src/rpc/server.cpp src/monitors/watch.h \
         src/monitors/watch.cpp src/monitors/allowed.cpp src/service/host.h src/service/host.cpp \
         src/agent/rule.h src/agent/win32/app.cpp src/laptops/laptop.h src/laptops/laptop.cpp \
         src/gadgets/gadget.cpp tests/fixture.h; do
    mkdir -p "$base/${f%/*}"
    printf '#include <string>\n' >"$base/$f"
done
printf '#include "log/trace.h"\n' >>"$base/src/device/probe.cpp"   # downward: always fine
printf '# the one known exception\nsrc/monitors/allowed.cpp service/host.h\n' >"$work/allow.txt"

failures=0
for row in "${rows[@]}"; do
    IFS='|' read -r file include want text <<<"$row"
    tree="$work/tree"
    rm -rf "$tree"
    cp -r "$base" "$tree"
    printf '%s\n' "$include" >>"$tree/$file"
    out="$("$check" --allow "$work/allow.txt" "$tree" 2>&1)"
    got=$?
    if [[ "$got" != "$want" || ( -n "$text" && "$out" != *"$text"* ) ]]; then
        echo "FAIL: $file with '$include': exit $got (want $want), output:"
        echo "$out" | sed 's/^/    /'
        [[ -n "$text" ]] && echo "    (wanted it to name: $text)"
        failures=$((failures + 1))
    fi
done
echo "check-layers self-test: ${#rows[@]} rows, $failures failed"
((failures == 0))
