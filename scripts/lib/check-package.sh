#!/usr/bin/env bash
# check-package.sh BUILD_DIR: builds the Debian package of BUILD_DIR and holds
# it to what a distribution asks: lintian without errors or warnings (but
# those README.md explains), valid desktop entries and AppStream metainfo.
set -euo pipefail
build=$(cd "$1" && pwd)
out=$(mktemp -d /tmp/tarvendesk-package.XXXXXX)
trap 'rm -rf "$out"' EXIT
cmake --build "$build" --target tarvendesk_package_docs tarvendesk_manual_pages
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 \
    || { cat "$out/cpack.log"; exit 1; }
deb=$(ls "$out"/tarvendesk_*.deb)
# No bug closes the first upload of a package that is not Debian's own.
said=$(lintian --suppress-tags initial-upload-closes-no-bugs "$deb" 2>&1 | grep -v 'root privileges' || true)
[ -z "$said" ] || { echo "lintian: $said"; exit 1; }
dpkg-deb -x "$deb" "$out/root"
find "$out/root" -name '*.desktop' -exec desktop-file-validate {} +
appstreamcli validate --no-net "$out"/root/usr/share/metainfo/*.metainfo.xml
echo "package checks passed: $(basename "$deb")"
