#!/usr/bin/env bash
# Installs what building, running and testing charstack needs on Debian 12, only what is missing.
# Usage: scripts/install-deps.sh [extra-package ...]
set -euo pipefail
packages=(build-essential cmake pkg-config qt6-base-dev libgl-dev zlib1g-dev libgtest-dev libgmock-dev
  libbenchmark-dev xvfb xauth "$@")
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
