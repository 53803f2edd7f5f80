#!/usr/bin/env bash
# Builds the benchmarks (Release, into build/) and runs them, printing their
# figures; docs/benchmarks.md keeps the figures measured so far.
#
#   scripts/bench.sh [IDLE_SECONDS]    how long to watch the idle waiter (10)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

tavio_ensure_packages "${TAVIO_PACKAGES[@]}"
build="$TAVIO_SOURCE/build"
cmake -S "$TAVIO_SOURCE" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS="$TAVIO_OPTIMIZED_FLAGS" \
    -DTAVIO_BUILD_BENCHMARKS=ON
targets=(bench_event_wake bench_idle_wait)
if grep -q tavio_support_core "$TAVIO_SOURCE/support/CMakeLists.txt" 2>/dev/null; then
    targets+=(bench_menu_data)
fi
cmake --build "$build" -j "$(tavio_jobs)" --target "${targets[@]}"

for program in "${targets[@]}"; do
    echo
    echo "== $program"
    if [ "$program" = bench_idle_wait ]; then
        "$build/bench/$program" "${1:-10}"
    else
        "$build/bench/$program"
    fi
done
