#!/usr/bin/env bash
# Builds the Debian package: a Release build in build-package/, then cpack -G DEB (its dependencies
# come from dpkg-shlibdeps). Checks the .desktop and AppStream files the package holds and that its
# icons are there; run as root, it also installs the package with apt-get and runs charstack --version.
# Usage: scripts/package.sh       the .deb is left in build-package/
set -euo pipefail
cd "$(dirname "$0")/.."
"scripts/install-deps.sh"
dir=build-package
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DCHARSTACK_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build "$dir" -j"$(nproc)"
rm -f "$dir"/charstack_*.deb
(cd "$dir" && cpack -G DEB)
deb=$(ls "$dir"/charstack_*.deb)

contents=$(mktemp -d)
trap 'rm -rf "$contents"' EXIT
dpkg-deb -x "$deb" "$contents"
id=io.github.charstack.Charstack
desktop-file-validate "$contents/usr/share/applications/$id.desktop"
appstreamcli validate --no-net "$contents/usr/share/metainfo/$id.metainfo.xml"
for icon in scalable/apps/$id.svg 16x16/apps/$id.png 48x48/apps/$id.png 256x256/apps/$id.png; do
  test -s "$contents/usr/share/icons/hicolor/$icon" || { echo "charstack: $icon is missing" >&2; exit 1; }
done
dpkg-deb --field "$deb" Package Version Depends Recommends

if [ "$(id -u)" -eq 0 ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$deb"
  env -u DISPLAY -u WAYLAND_DISPLAY charstack --version
fi
echo "charstack: built $deb"
