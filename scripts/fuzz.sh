#!/usr/bin/env bash
# Builds the "data.txt" reader fuzzer with clang's libFuzzer, AddressSanitizer and UBSan, and runs it.
# Usage: scripts/fuzz.sh [seconds]   (default 30)
# Only the Qt-free sources the reader needs are compiled, into build-fuzz/. New inputs the fuzzer
# finds go to build-fuzz/corpus/; fuzz/corpus/ holds the seeds and is only read. A failing input is
# written as build-fuzz/crash-* (or leak-*, timeout-*) and the script exits non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
scripts/install-deps.sh clang-14 libclang-rt-14-dev
cxx="${CXX_FUZZ:-$(command -v clang++ || command -v clang++-14)}"
out=build-fuzz
mkdir -p "$out/corpus"
sources=(fuzz/data_text_fuzz.cpp src/project/data_text.cpp src/platform/text.cpp src/model/model.cpp
  src/model/names.cpp)
if [ ! -x "$out/data_text_fuzz" ] || [ -n "$(find "${sources[@]}" src/model src/platform src/project \
    -newer "$out/data_text_fuzz" -print -quit)" ]; then
  "$cxx" -std=c++20 -g -O1 -Wall -Wextra -Wpedantic -Werror -Isrc \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer \
    "${sources[@]}" -o "$out/data_text_fuzz"
fi
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
# One job at a time: the machine is shared. -max_len keeps inputs at the size of real project files.
exec "$out/data_text_fuzz" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 -dict=fuzz/data_text.dict -artifact_prefix="$out/" "$out/corpus" fuzz/corpus
