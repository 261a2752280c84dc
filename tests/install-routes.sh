#!/usr/bin/env bash
# install-routes.sh BUILD_DIR: installs the suite with cmake --install to /usr
# and to /usr/local, each under a throwaway DESTDIR, and looks at the result
# the way a desktop does at the next login: the autostart entries in the
# default configuration folder (/etc/xdg), the menu entries and bus services
# in the prefix's data folder.
set -euo pipefail
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL [$prefix]: $*" >&2; failures=$((failures + 1)); }
key() { sed -n "s/^$2=//p" "$1" | head -n 1; }

for prefix in /usr /usr/local; do
    root="$scratch/${prefix//\//_}"
    DESTDIR="$root" cmake --install "$build" --prefix "$prefix" >/dev/null
    autostart=("$root"/etc/xdg/autostart/*.desktop)
    [ -f "${autostart[0]}" ] || { fail "no autostart entry in /etc/xdg/autostart"; continue; }
    program=$(key "${autostart[0]}" TryExec)
    [ "$(basename "$program")" = tarvenDESKStatusBar ] && [ -x "$root$program" ] \
        || fail "the autostart entry starts '$program', which is not the installed notifier"
    data="$root$prefix/share"
    entry="$data/applications/org.tarvendesk.TarvenDESK.desktop"
    [ "$(key "$entry" DBusActivatable)" = true ] || fail "the sign-in entry is not D-Bus activatable"
    service="$data/dbus-1/services/org.tarvendesk.TarvenDESK.service"
    exec=$(key "$service" Exec | sed -E 's/^"([^"]*)".*/\1/; s/ .*//')
    [ -x "$root$exec" ] || fail "the sign-in bus service starts no installed program"
    [ ! -e "$root$prefix/bin/tarvendesk-service" ] || fail "the test service was installed with the suite"
done
exit $((failures > 0))
