#!/usr/bin/env bash
# Installs what is missing, configures, builds and runs every test.
# Usage: scripts/test.sh [--sanitize | --tsan]
#   (none)      a Release build in build/ (whose optimiser warns of other things than the usual one's)
#               with the benchmarks, so that scripts/bench.sh builds too
#   --sanitize  AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
#   --tsan      ThreadSanitizer build in build-tsan/ of the tests of work on several threads only
#               (ThreadSanitizer must report nothing: halt_on_error)
# Every build precompiles the common headers; the sanitizer builds also compile the sources in
# batches (a unity build: at -O0 and under ThreadSanitizer, no optimiser warning differs from a plain
# build's, while the Release build's -O3 inlining would raise false ones).
set -euo pipefail
cd "$(dirname "$0")/.."
"scripts/install-deps.sh"
dir=build
flags=(-DCHARSTACK_WERROR=ON -DCHARSTACK_PCH=ON)
targets=()
sanitizer=""
for arg in "$@"; do
  case "$arg" in
    --sanitize | --tsan) sanitizer=$arg ;;
    *) echo "usage: scripts/test.sh [--sanitize | --tsan]" >&2; exit 2 ;;
  esac
done
if [ -z "$sanitizer" ]; then
  flags+=(-DCMAKE_BUILD_TYPE=Release -DCHARSTACK_TESTS=ON -DCHARSTACK_BENCH=ON)
else
  flags+=(-DCMAKE_UNITY_BUILD=ON)
fi
if [ "$sanitizer" = "--sanitize" ]; then
  dir=build-asan
  flags+=(-DCHARSTACK_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
elif [ "$sanitizer" = "--tsan" ]; then
  dir=build-tsan
  flags+=(-DCHARSTACK_TSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo)
  targets=(--target charstack_thread_tests)
  export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp:${TSAN_OPTIONS:-}"
fi
cmake -S . -B "$dir" "${flags[@]}" >/dev/null
nice -n 5 cmake --build "$dir" -j"$(nproc)" "${targets[@]}"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
