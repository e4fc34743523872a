#!/usr/bin/env bash
# Installs what building, running and testing charstack needs on Debian 12, only what is missing.
# Usage: scripts/install-deps.sh [extra-package ...]
set -euo pipefail
# qt6-tools-dev and qt6-l10n-tools compile the translations; qt6-translations-l10n holds Qt's own
# Japanese texts; qt6-image-formats-plugins reads WebP, TIFF and TGA; librsvg2-bin renders the icon;
# file, desktop-file-utils and appstream build and check the Debian package (scripts/package.sh);
# libdeflate-dev inflates, deflates and checks the PNG data of pictures faster than zlib.
# libpng-dev (tests only) is the reference reader the PNG conformance tests and the PNG fuzzer compare
# with; valgrind runs the conformance test to show that no uninitialised byte reaches a picture.
packages=(build-essential cmake pkg-config qt6-base-dev libgl-dev zlib1g-dev libdeflate-dev libgtest-dev libgmock-dev
  libbenchmark-dev xvfb xauth qt6-tools-dev qt6-l10n-tools qt6-translations-l10n qt6-image-formats-plugins
  librsvg2-bin file desktop-file-utils appstream libpng-dev valgrind "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "charstack: installing ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
