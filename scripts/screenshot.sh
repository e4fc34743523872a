#!/usr/bin/env bash
# Takes docs/screenshot.png: the editor on the sample project, in a virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${CHARSTACK_BUILD_DIR:-build}"
"scripts/install-deps.sh"
cmake -S . -B "$build" -DCHARSTACK_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target charstack_screenshot
mkdir -p docs
# A copy, so that nothing the editor might write lands in the sample.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r examples/sample "$work/sample"
xvfb-run -a -s "-screen 0 1280x800x24" "$build"/tools/charstack_screenshot "$work/sample" docs/screenshot.png
echo "charstack: wrote docs/screenshot.png"
