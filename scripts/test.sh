#!/usr/bin/env bash
# The whole test suite: native tests (plain, ASan+UBSan, ThreadSanitizer), a short run of
# each fuzz target, then the Windows build with its contract tests and integration tests
# under Wine.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
scripts/install-deps.sh

jobs="$(nproc)"
# Each phase says when it starts, so a slow CI run shows where its time went.
phase() { echo "=== $1 (at ${SECONDS} s) ==="; }
# No folder of src/ includes one above it (scripts/check-layers.sh names the order).
phase "layers"
scripts/check-layers.sh
for preset in native native-asan native-tsan; do
    phase "$preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset"
    # The fault sweep's summary, which ctest keeps in its log when the test passes.
    grep -h "^fault sweep:" "build/$preset/Testing/Temporary/LastTest.log" || true
done

# The fuzz targets, built with clang and libFuzzer, each run briefly from its seeds: about a
# minute in all. The native presets above already replayed every checked-in finding.
phase "fuzz (libFuzzer)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
scripts/fuzz.sh 10

phase "windows (under Wine)"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
ctest --preset windows
# The contract tests' prefix: end its server rather than leave it to time out.
WINEPREFIX="$PWD/build/wineprefix" timeout 30 wineserver -k >/dev/null 2>&1 || true
phase "done"
