#!/usr/bin/env bash
# Installs what is missing, builds the benchmarks (Release) in build-bench/ and runs them; the table
# at the end shows every figure beside its baseline and its target.
# Usage: scripts/bench.sh [--quick] [--rounds R] [--records N] [--no-idle] [--only NAME]
#   --quick (or CHARSTACK_BENCH_QUICK=1) skips the 50 x 1024x1024 project.
# The data sets are generated into $TMPDIR (default /tmp) and removed afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
"scripts/install-deps.sh"
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DCHARSTACK_BENCH=ON -DCHARSTACK_TESTS=OFF \
  -DCHARSTACK_WERROR=ON >/dev/null
cmake --build build-bench -j"$(nproc)" --target charstack_bench charstack_idle_bench
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
exec build-bench/bench/charstack_bench "$@"
