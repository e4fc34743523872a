#!/usr/bin/env bash
# Draws the bundled sample project again into examples/sample/ (data.txt and img/).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${CHARSTACK_BUILD_DIR:-build}"
"scripts/install-deps.sh"
cmake -S . -B "$build" -DCHARSTACK_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target charstack_make_sample
rm -rf examples/sample
"$build"/tools/charstack_make_sample examples/sample
echo "charstack: wrote examples/sample/"
