#!/usr/bin/env bash
# Builds the fuzzers with clang's libFuzzer, AddressSanitizer and UBSan, and runs each in turn:
#   data_text_fuzz  the "data.txt" reader (Qt-free sources only)
#   png_fuzz        the PNG check and decoder of pictures, against libpng and Qt's own PNG reader
#   records_fuzz    records pasted or dropped from other windows and programs
#   journal_fuzz    the journal of an interrupted save, which every open carries out
# Usage: scripts/fuzz.sh [seconds]   (each fuzzer's time, default 30)
# Everything is built in build-fuzz/. New inputs the fuzzers find go to build-fuzz/<name>-corpus/;
# fuzz/corpus/ and fuzz/*_corpus/ hold the seeds and are only read. A failing input is written as
# build-fuzz/crash-* (or leak-*, timeout-*) and the script exits non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
scripts/install-deps.sh clang-14 libclang-rt-14-dev
cxx="${CXX_FUZZ:-$(command -v clang++ || command -v clang++-14)}"
out=build-fuzz
flags=(-std=c++20 -g -O1 -Wall -Wextra -Wpedantic -Werror -Isrc
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)

# build NAME SOURCES... [-- LINK FLAGS...]: compiles when a source of the product is newer.
build() {
  local name=$1
  shift
  local sources=() link=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do sources+=("$1"); shift; done
  [ $# -gt 0 ] && shift && link=("$@")
  if [ ! -x "$out/$name" ] || [ -n "$(find "${sources[@]}" src/model src/platform src/project \
      -newer "$out/$name" -print -quit)" ]; then
    "$cxx" "${flags[@]}" "${sources[@]}" -o "$out/$name" "${link[@]}"
  fi
}

# run NAME SEEDS [FLAGS...]: -max_len keeps inputs at the size of real project files; one job at a
# time, as the machine is shared. libpng prints a line for every broken file it is given: left out.
run() {
  local name=$1 seeds=$2
  shift 2
  mkdir -p "$out/$name-corpus"
  "$out/$name" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$out/" "$@" "$out/$name-corpus" "$seeds" 2>&1 | { grep -v '^libpng error: ' || true; }
}

mkdir -p "$out"
# The four builds run side by side (the machine's cores are otherwise idle while one compiles).
pids=()
# shellcheck disable=SC2046
build data_text_fuzz fuzz/data_text_fuzz.cpp src/project/data_text.cpp src/platform/text.cpp src/model/model.cpp \
  src/model/names.cpp -- -fPIC $(pkg-config --cflags --libs Qt6Core) &
pids+=($!)
# shellcheck disable=SC2046 # pkg-config gives several words on purpose
build png_fuzz fuzz/png_fuzz.cpp src/platform/image.cpp src/platform/png_decode.cpp src/platform/png_encode.cpp src/platform/parallel.cpp \
  src/platform/files.cpp -- \
  -Itests -fPIC $(pkg-config --cflags --libs Qt6Gui) -ldeflate -lz -lpng &
pids+=($!)
# shellcheck disable=SC2046
build records_fuzz fuzz/records_fuzz.cpp src/project/transfer.cpp src/project/data_text.cpp src/platform/text.cpp \
  src/model/model.cpp src/model/names.cpp src/platform/image.cpp src/platform/png_decode.cpp src/platform/png_encode.cpp src/platform/parallel.cpp \
  src/platform/files.cpp -- \
  -fPIC $(pkg-config --cflags --libs Qt6Gui) -ldeflate -lz &
pids+=($!)
# shellcheck disable=SC2046
build journal_fuzz fuzz/journal_fuzz.cpp src/project/journal.cpp src/project/file_rules.cpp src/project/records.cpp \
  src/platform/files.cpp src/platform/text.cpp src/model/names.cpp src/model/model.cpp src/platform/image.cpp \
  src/platform/png_decode.cpp src/platform/png_encode.cpp src/platform/parallel.cpp -- \
  -fPIC $(pkg-config --cflags --libs Qt6Gui) -ldeflate -lz &
pids+=($!)
for pid in "${pids[@]}"; do wait "$pid"; done  # a failed build fails the script

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
run data_text_fuzz fuzz/corpus -dict=fuzz/data_text.dict
run png_fuzz fuzz/png_corpus
run records_fuzz fuzz/records_corpus
run journal_fuzz fuzz/journal_corpus
