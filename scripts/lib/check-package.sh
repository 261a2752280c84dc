#!/usr/bin/env bash
# check-package.sh BUILD_DIR: builds the Debian package of BUILD_DIR and holds
# it to what a distribution asks: lintian without errors or warnings (but
# those README.md explains), valid desktop entries and AppStream metainfo; and
# the installer's bundle in BUILD_DIR the same way.
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
fail() { echo "package check: $*" >&2; exit 1; }
outside=$(dpkg-deb --contents "$deb" | awk '{print $6}' \
    | grep -vE '^\./(usr/|etc/$|etc/xdg/$|etc/xdg/autostart/)' || true)
[ -z "$outside" ] || fail "files outside /usr and /etc/xdg/autostart: $outside"
for extra in usr/bin/installer usr/bin/tarvendesk-service; do
    [ ! -e "$out/root/$extra" ] || fail "the package carries $extra"
done
depends=$(dpkg-deb --field "$deb" Depends)
case "$depends" in *qt6-qpa-plugins*libqt6widgets6*|*libqt6widgets6*qt6-qpa-plugins*) ;;
    *) fail "Depends lacks Qt's widgets or platform plugins: $depends" ;; esac
# Every entry and service starts its program from /usr/bin.
for file in "$out"/root/usr/share/applications/*.desktop "$out"/root/usr/share/dbus-1/services/*.service \
    "$out"/root/etc/xdg/autostart/*.desktop; do
    [ -e "$file" ] || continue
    grep -qE '^Exec="/usr/bin/[A-Za-z]+"$' "$file" || fail "$(basename "$file") starts $(grep '^Exec=' "$file")"
done
if [ -e "$out/root/usr/bin/tarvenDESKStatusBar" ]; then
    [ "$(dpkg-deb --info "$deb" conffiles | tr -d ' ')" = /etc/xdg/autostart/org.tarvendesk.TarvenDeskChecker.desktop ] \
        || fail "the autostart entry is not a conffile"
fi
find "$out/root" -name '*.desktop' -exec desktop-file-validate {} +
# The installer's bundle, valid for the desktop wherever it is copied: every
# program for everyone to run, started by its entry and bus service from
# /opt/tarvenDESK.app, with its icon.
data="$build/share/tarvendesk/installer"
bundle="$data/tarvenDESK.app"
for program in TarvenDESK tarvenDESKStatusBar; do
    [ -e "$build/bin/$program" ] || continue
    id=org.tarvendesk.$program
    [ "$(stat -c %A "$bundle/bin/$program" | cut -c8-10)" = r-x ] || fail "the bundle's $program is not for everyone"
    for file in "$bundle/share/applications/$id.desktop" "$bundle/share/dbus-1/services/$id.service"; do
        grep -qx "Exec=\"/opt/tarvenDESK.app/bin/$program\"" "$file" || fail "the bundle's $(basename "$file") starts something else"
    done
    file -b "$bundle/share/icons/hicolor/128x128/apps/$id.png" | grep -q '128 x 128' || fail "$id has no icon in the bundle"
done
checker=org.tarvendesk.TarvenDeskChecker.desktop
if [ -e "$build/bin/tarvenDESKStatusBar" ]; then
    [ -e "$bundle/share/applications/$checker" ] || fail "the bundle lacks $checker"
    grep -qx 'Exec="/opt/tarvenDESK.app/bin/tarvenDESKStatusBar"' "$data/$checker" || fail "$checker starts something else"
fi
find "$bundle" "$data/$checker" -name '*.desktop' -exec desktop-file-validate {} +
appstreamcli validate --no-net "$out"/root/usr/share/metainfo/*.metainfo.xml
echo "package checks passed: $(basename "$deb")"
