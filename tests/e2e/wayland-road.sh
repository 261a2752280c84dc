#!/usr/bin/env bash
# wayland-road.sh BUILD_DIR ARTIFACT_DIR
# The road on a Wayland desktop: sway on its headless backend, waybar's tray
# (a StatusNotifierItem host) and mako for notifications, as an ordinary user
# made for the run (sway refuses root), with keys typed by wtype. It covers
# the typed sign-in, the record, the notifier's item registered with the
# host, its notification, and the tray menu's "Check now" and "Sign Out" sent
# as a host sends them (com.canonical.dbusmenu Event "clicked"). Skips (77)
# with its reason where the packages or root are missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)

if [ "${1:-}" != --inner ]; then
    build=$(cd "$1" && pwd)
    artifacts=$2
    missing=
    for tool in sway waybar mako makoctl wtype gdbus useradd runuser; do
        command -v $tool >/dev/null || missing+=" $tool"
    done
    ls /usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so >/dev/null 2>&1 || missing+=" qt6-wayland"
    if [ -n "$missing" ]; then
        echo "SKIP: the Wayland road needs$missing (scripts/install-deps.sh test)"
        exit 77
    fi
    if [ "$(id -u)" != 0 ]; then
        echo "SKIP: the Wayland road makes a throwaway user (sway refuses root), which takes root"
        exit 77
    fi
    # The programs run as the throwaway user: it has to read the build tree.
    runuser -u nobody -- test -r "$build/bin/TarvenDESK" \
        || { echo "SKIP: other users cannot read $build"; exit 77; }
    work=$(mktemp -d /tmp/tarvendesk-wayland.XXXXXX)
    person=tdwl$$
    useradd --home-dir "$work" --no-create-home --shell /usr/sbin/nologin --user-group "$person"
    # Whatever of the user's is left once the road has ended, then the user.
    trap 'for pid in $(pgrep -u "$person" || true); do kill -KILL "$pid" 2>/dev/null || true; done
        userdel "$person" 2>/dev/null || true; rm -rf "$work"' EXIT
    rm -rf "$artifacts"; mkdir -p "$artifacts"
    cp "$build/pki/cert.pem" "$build/pki/key.pem" "$work/"
    chown -R "$person:" "$work" "$artifacts"
    status=0
    # Only what the road needs of this environment: the sanitizers' options
    # when the build is sanitized.
    runuser -u "$person" -- env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$work" LANG=C.UTF-8 \
        ${ASAN_OPTIONS:+ASAN_OPTIONS=$ASAN_OPTIONS} ${LSAN_OPTIONS:+LSAN_OPTIONS=$LSAN_OPTIONS} \
        ${UBSAN_OPTIONS:+UBSAN_OPTIONS=$UBSAN_OPTIONS} \
        ${ASAN_SYMBOLIZER_PATH:+ASAN_SYMBOLIZER_PATH=$ASAN_SYMBOLIZER_PATH} \
        "$root/scripts/in-test-session.sh" "$build" "$0" --inner "$build" "$artifacts" "$work" || status=$?
    exit $status
fi

build=$2
artifacts=$3
work=$4
source "$root/scripts/lib/desktop-session.sh"
source "$root/tests/e2e/road-common.sh"
trap 'desktop_stop_all; cp "$work"/*.log "$artifacts/" 2>/dev/null || true' EXIT
user="wayland user"
password='wa yl&=+%ö'

export XDG_DATA_DIRS="$build/share:${XDG_DATA_DIRS:-/usr/local/share:/usr/share}"
export WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1
printf 'output HEADLESS-1 resolution 1280x800\n' >"$work/sway.conf"
sway -c "$work/sway.conf" >"$work/sway.log" 2>&1 &
desktop_pids+=($!)
wayland_up() { ls "$XDG_RUNTIME_DIR"/wayland-[0-9] >/dev/null 2>&1; }
desktop_wait 20 wayland_up || desktop_fail "sway did not start: $(tail -5 "$work/sway.log")"
WAYLAND_DISPLAY=$(basename "$(ls "$XDG_RUNTIME_DIR"/wayland-[0-9] | head -1)")
SWAYSOCK=$(ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock | head -1)
export WAYLAND_DISPLAY SWAYSOCK QT_QPA_PLATFORM=wayland
unset DISPLAY
# Programs the bus starts get the same display.
dbus-update-activation-environment WAYLAND_DISPLAY QT_QPA_PLATFORM XDG_DATA_DIRS >/dev/null 2>&1 || true
mako --default-timeout 0 >"$work/mako.log" 2>&1 &
desktop_pids+=($!)
printf '{"layer": "top", "position": "top", "modules-right": ["tray"], "tray": {"spacing": 4}}\n' >"$work/waybar.json"
printf '* { font-size: 12px; }\n' >"$work/waybar.css"
waybar -c "$work/waybar.json" -s "$work/waybar.css" >"$work/waybar.log" 2>&1 &
desktop_pids+=($!)
desktop_wait 20 desktop_bus_name_owned org.kde.StatusNotifierWatcher || desktop_fail "waybar's tray did not come up"
desktop_wait 20 desktop_bus_name_owned org.freedesktop.Notifications || desktop_fail "mako did not come up"
road_start_service "$user" "$password"

# The notifications mako shows, one "summary|body" line each.
notifications() {
    makoctl list | python3 -c '
import json, sys
for group in json.load(sys.stdin)["data"]:
    for n in group:
        print(n["summary"]["data"] + "|" + n["body"]["data"])
'
}
counts_shown() { notifications | grep -qxF "tarvenDESK!|$counts"; }
# expect_check WHY: a request to the service and its notification at mako.
expect_check() {
    expect_request "$1"
    desktop_wait 30 counts_shown || desktop_fail "$1: mako shows no counts: $(notifications)"
    makoctl dismiss --all
}

echo "1. a typed sign-in"
"$build/bin/TarvenDESK" >"$work/signin.log" 2>&1 &
desktop_pids+=($!)
signin_mapped() { swaymsg -t get_tree | grep -q '"app_id": "org.tarvendesk.TarvenDESK"'; }
desktop_wait 20 signin_mapped || desktop_fail "the sign-in window did not open: $(swaymsg -t get_tree | grep app_id)"
sleep 1
# One call for the whole entry: a new virtual keyboard's first key can be
# lost while the window loads its keymap, hence the wait before it. The
# password comes from standard input, so that it is on no command line.
printf '%s' "$password" | wtype -s 600 "$user" -k Tab - -k Return
desktop_wait 20 desktop_record_stored || desktop_fail "no details record in the keyring after signing in"
echo "   the record is in the keyring"
desktop_wait 20 desktop_bus_name_owned $notifier || desktop_fail "the notifier was not started by the activation"
expect_check "the first check"
echo "   notified at mako"

echo "2. the notifier's item in waybar's tray"
registered_item() {
    gdbus call --session --dest org.kde.StatusNotifierWatcher --object-path /StatusNotifierWatcher \
        --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher \
        RegisteredStatusNotifierItems 2>/dev/null | grep -o "'[^']*'" | head -1 | tr -d "'"
}
item_registered() { [ -n "$(registered_item)" ]; }
desktop_wait 20 item_registered || desktop_fail "no item registered with the tray host"
item=$(registered_item)
item_service=${item%%/*}
item_path=/${item#*/}
[ "$(notifier_state HasStatusItem)" = true ] || desktop_fail "the notifier says it has no tray item"
menu_path=$(gdbus call --session --dest "$item_service" --object-path "$item_path" \
    --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem Menu | grep -o "'[^']*'" | tr -d "'")
echo "   registered as $item, its menu at $menu_path"
# menu_entry LABEL: the id of the menu's entry with that label.
menu_entry() {
    gdbus call --session --dest "$item_service" --object-path "$menu_path" \
        --method com.canonical.dbusmenu.GetLayout -- 0 -1 '[]' | python3 -c '
import re, sys
found = re.search(r"\((\d+), \{[^{}]*'"'"'label'"'"': <'"'"'" + re.escape(sys.argv[1]) + r"'"'"'>", sys.stdin.read())
print(found.group(1) if found else "")
' "$1"
}
# click LABEL: the entry chosen, as a host sends it.
click() {
    local id
    id=$(menu_entry "$1")
    [ -n "$id" ] || desktop_fail "the tray menu has no entry $1"
    gdbus call --session --dest "$item_service" --object-path "$menu_path" \
        --method com.canonical.dbusmenu.Event "$id" clicked '<0>' 0 >/dev/null
}

echo "3. the tray menu's Check now and Sign Out"
click "Check now"
expect_check "the tray menu's Check now"
click "Sign Out"
desktop_wait 10 not desktop_record_stored || desktop_fail "the record is still in the keyring after Sign Out"
[ "$(notifier_state SignedIn)" = false ] || desktop_fail "the notifier still has a user after Sign Out"
echo "wayland road: all steps passed"
