#!/usr/bin/env bash
# Builds the benchmarks (Release, into build/) and runs them, printing their
# figures; docs/benchmarks.md keeps the figures measured so far.
#
#   scripts/bench.sh [IDLE_SECONDS]    how long the idle measurements watch (10)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# Google Benchmark programs, then the timed measurements that take the idle
# time as their argument. A program whose part of the system is not built yet
# is left out.
benchmarks=(bench_menu_data bench_event_wake)
idle_measurements=(bench_idle_wait bench_window_idle bench_modewatch)
idle_seconds="${1:-10}"

tavio_ensure_packages "${TAVIO_PACKAGES[@]}"
build="$TAVIO_SOURCE/build"
cmake -S "$TAVIO_SOURCE" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DTAVIO_BUILD_BENCHMARKS=ON
known_targets="$(cmake --build "$build" --target help)"
targets=()
for program in "${benchmarks[@]}" "${idle_measurements[@]}"; do
    if grep -q "^$program:" <<<"$known_targets"; then
        targets+=("$program")
    fi
done
cmake --build "$build" -j "$(tavio_jobs)" --target "${targets[@]}"

status=0
for program in "${targets[@]}"; do
    echo
    echo "== $program"
    if [[ " ${idle_measurements[*]} " == *" $program "* ]]; then
        "$build/bench/$program" "$idle_seconds" || status=1
    else
        "$build/bench/$program" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true || status=1
    fi
done
exit "$status"
