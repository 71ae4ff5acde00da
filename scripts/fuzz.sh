#!/usr/bin/env bash
# Runs the libFuzzer targets of the fuzz preset for SECONDS each (default 10), one after
# another, from the checked-in seeds (tests/fuzz/corpus/<target>) and what earlier runs in
# this build found (build/fuzz/corpus/<target>). Prints runs and exec/s per target; a crash,
# leak, time-out or failed check fails the run and leaves the input in build/fuzz/findings/.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]      targets: rpc_procedures registry_values hid_ids
#                                              feature_answers inf_files raw_input
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

seconds="${1:-10}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(rpc_procedures registry_values hid_ids feature_answers inf_files raw_input)

bin=build/fuzz/tests/fuzz
mkdir -p build/fuzz/findings build/fuzz/logs
failed=0
for t in "${targets[@]}"; do
    [ -x "$bin/fuzz_$t" ] || { echo "fuzz_$t is not built: cmake --preset fuzz && cmake --build --preset fuzz"; exit 2; }
    mkdir -p "build/fuzz/corpus/$t"
    log="build/fuzz/logs/$t.log"
    # One input may not run longer than 20 s nor grow past 2 GiB; both count as findings.
    if "$bin/fuzz_$t" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
           -artifact_prefix="build/fuzz/findings/$t-" "build/fuzz/corpus/$t" "tests/fuzz/corpus/$t" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        rate=$(sed -n 's/.*DONE .*exec\/s: \([0-9]*\).*/\1/p' "$log" | tail -1)
        cov=$(sed -n 's/.*DONE *cov: \([0-9]*\).*/\1/p' "$log" | tail -1)
        printf '%-16s %8s runs in %ss  %6s exec/s  cov %s\n' "$t" "$runs" "$seconds" "${rate:-?}" "${cov:-?}"
    else
        echo "$t: FINDING (log $log)"
        grep -E "ERROR|FUZZ_CHECK|SUMMARY|Test unit written" "$log" | head -10
        failed=1
    fi
done
exit "$failed"
