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
    [ -z "$missing" ] || { echo "SKIP: the Wayland road needs$missing (scripts/install-deps.sh test)"; exit 77; }
    [ "$(id -u)" = 0 ] \
        || { echo "SKIP: the Wayland road makes a throwaway user (sway refuses root), which takes root"; exit 77; }
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
    # Only what the road needs of this environment: the sanitizers' options
    # when the build is sanitized. Its status is the road's (set -e).
    mapfile -t sanitizer_options < <(env | grep -E '^(ASAN|LSAN|UBSAN)_' || true)
    runuser -u "$person" -- env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$work" LANG=C.UTF-8 \
        "${sanitizer_options[@]}" "$root/scripts/in-test-session.sh" "$build" "$0" --inner "$build" "$artifacts" "$work"
    exit
fi

build=$2
artifacts=$3
work=$4
source "$root/scripts/lib/desktop-session.sh"
source "$root/tests/e2e/road-common.sh"
trap road_end EXIT
user="wayland user"
password='wa yl&=+%ö'

export XDG_DATA_DIRS="$build/share:${XDG_DATA_DIRS:-/usr/local/share:/usr/share}"
export WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1
printf 'output HEADLESS-1 resolution 1280x800\n' >"$work/sway.conf"
# in_background LOG COMMAND...: a program of the desktop, its output in $work/LOG.
in_background() { "${@:2}" >"$work/$1" 2>&1 & desktop_pids+=($!); }
in_background sway.log sway -c "$work/sway.conf"
wayland_up() { ls "$XDG_RUNTIME_DIR"/wayland-[0-9] >/dev/null 2>&1; }
desktop_wait 20 wayland_up || desktop_fail "sway did not start: $(tail -5 "$work/sway.log")"
WAYLAND_DISPLAY=$(basename "$(ls "$XDG_RUNTIME_DIR"/wayland-[0-9] | head -1)")
SWAYSOCK=$(ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock | head -1)
export WAYLAND_DISPLAY SWAYSOCK QT_QPA_PLATFORM=wayland
unset DISPLAY
# Programs the bus starts get the same display.
dbus-update-activation-environment WAYLAND_DISPLAY QT_QPA_PLATFORM XDG_DATA_DIRS >/dev/null 2>&1 || true
in_background mako.log mako --default-timeout 0
printf '{"layer": "top", "position": "top", "modules-right": ["tray"], "tray": {"spacing": 4}}\n' >"$work/waybar.json"
printf '* { font-size: 12px; }\n' >"$work/waybar.css"
in_background waybar.log waybar -c "$work/waybar.json" -s "$work/waybar.css"
desktop_wait 20 desktop_bus_name_owned org.kde.StatusNotifierWatcher || desktop_fail "waybar's tray did not come up"
desktop_wait 20 desktop_bus_name_owned org.freedesktop.Notifications || desktop_fail "mako did not come up"
road_start_service "$user" "$password"

# The notifications mako shows, one "summary|body" line each.
notifications() {
    makoctl list | python3 -c 'import json, sys
print("\n".join(n["summary"]["data"] + "|" + n["body"]["data"] for g in json.load(sys.stdin)["data"] for n in g))'
}
counts_shown() { notifications | grep -qxF "tarvenDESK!|$counts"; }
# expect_check WHY: a request to the service and its notification at mako.
expect_check() {
    expect_request "$1"
    desktop_wait 30 counts_shown || desktop_fail "$1: mako shows no counts: $(notifications)"
    makoctl dismiss --all
}

echo "1. a typed sign-in"
signin_window_open() { swaymsg -t get_tree | grep -q '"app_id": "org.tarvendesk.TarvenDESK"'; }
start_signin signin.log
# One call for the whole entry: a new virtual keyboard's first key can be
# lost while the window loads its keymap, hence the wait before it. The
# password comes from standard input, so that it is on no command line.
printf '%s' "$password" | wtype -s 600 "$user" -k Tab - -k Return
desktop_wait 20 desktop_record_stored || desktop_fail "no details record in the keyring after signing in"
expect_check "the first check"

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
# menu_entry LABEL: the id of the menu's entry with that label.
menu_entry() {
    gdbus call --session --dest "$item_service" --object-path "$menu_path" \
        --method com.canonical.dbusmenu.GetLayout -- 0 -1 '[]' | sed -nE "s/.*\(([0-9]+), \{[^{}]*'label': <'$1'>.*/\1/p"
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
