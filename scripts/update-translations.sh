#!/usr/bin/env bash
# Gathers the texts of src/ into translations/charstack_ja.ts with lupdate: new texts come in
# unfinished, texts no longer in the code go, existing translations stay. Translate the unfinished
# ones (Qt Linguist, or by hand in the file) before committing: the tests fail while one is left.
set -euo pipefail
cd "$(dirname "$0")/.."
"scripts/install-deps.sh"
lupdate="$(qtpaths6 --query QT_HOST_BINS)/lupdate"
"$lupdate" -locations none -no-obsolete -source-language en -target-language ja src -ts translations/charstack_ja.ts
