#!/usr/bin/env bash
# Installs what is missing, builds charstack and starts it on the project beside the executable
# (the bundled sample project on a first run).
set -euo pipefail
cd "$(dirname "$0")/.."
"scripts/install-deps.sh"
cmake -S . -B build -DCHARSTACK_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target charstack
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "charstack: no display found (DISPLAY is not set); run it under a virtual one: xvfb-run -a scripts/run.sh" >&2
  exit 1
fi
exec build/src/charstack "$@"
