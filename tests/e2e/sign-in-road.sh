#!/usr/bin/env bash
# sign-in-road.sh BUILD_DIR ARTIFACT_DIR [--demo DEMO_DIR]
# The whole road of a sign-in, driven as a person would on a real X display:
# real key presses into the sign-in window, the record in the keyring, the
# notifier started by the activation, its notification in a real daemon, the
# tray menu's "Check now" and "Sign Out", and a refused password.
# Runs inside scripts/in-test-session.sh (a private bus and keyring).
# With --demo it stops after the first notification and an open tray menu,
# for a person to see the suite work on a machine without a display: the
# service serves DEMO_DIR (service.db with the demo user, whose password is in
# DEMO_DIR/password, and the certificate), and a sign-in the keyring kept from
# an earlier run is used as it is. Its lines for the person go to descriptor 3
# when that is open, everything else to standard output and error.
set -euo pipefail
build=$(cd "$1" && pwd)
artifacts=$2
demo=${3:-}
demo_dir=${4:-}
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/desktop-session.sh"
source "$root/tests/e2e/road-common.sh"
# The programs go before the display they are on: the sign-in programs this
# road started, and the notifier the private bus started for it; copies a
# person runs elsewhere are not this road's.
road_before_end() { kill -KILL "${signin_pids[@]}" 2>/dev/null || true; stop_owner $notifier -KILL; }

if [ "$demo" = --demo ]; then
    { true >&3; } 2>/dev/null && desktop_say_fd=3
    user=demo
    read -r password <"$demo_dir/password"
    desktop_say "Demo user: $user, password: $password"
else
    user="e2e user"
    password='pa ss&=+%é'
fi

road_start_x_desktop e2e
desktop_start_tray
if [ "$demo" = --demo ]; then
    # The address the programs of this build were made for, as on a desktop.
    desktop_start_service "$build/bin" "$demo_dir" "$(desktop_service_listen_address "$build")"
else
    road_start_service "$user" "$password"
fi
signin_alert_open() { [ "$(xdotool search --onlyvisible --class '^TarvenDESK$' | wc -l)" -ge 2 ]; }

desktop_say "1. the sign-in window"
start_signin signin.log
if [ "$demo" = --demo ] && desktop_record_stored; then
    desktop_say "   signed in already: the keyring keeps the record of the last run"
    signin_shot signed-in-window
else
    signin_shot signed-out-window
    signed_out_picture=$picture
    type_into_signin "$user" "$password"
    desktop_wait 20 desktop_record_stored || desktop_fail "no details record in the keyring after signing in"
    desktop_say "   signed in with real key presses: the record is in the keyring"
    sleep 1
    signin_shot signed-in-window
    [ "$(pixels_apart "$signed_out_picture" "$picture")" -gt 2000 ] \
        || desktop_fail "the window did not change to the signed-in view"
fi
desktop_wait 20 desktop_bus_name_owned $notifier || desktop_fail "the notifier was not started by the activation"
expect_counts "no notification arrived" signed-in-and-notified

desktop_say "2. the tray menu"
tray_icon() { xdotool search --class '^tarvenDESKStatusBar$' | head -1; }
# The notifier's visible windows other than its tray icon: its open menu.
tray_menu() { xdotool search --onlyvisible --class '^tarvenDESKStatusBar$' | grep -vx "$(tray_icon)" | head -1; }
tray_menu_open() { [ -n "$(tray_menu)" ]; }
open_tray_menu() {
    [ -n "$(tray_icon)" ] || desktop_fail "no tray icon"
    xdotool mousemove --window "$(tray_icon)" 8 8 click 1
    desktop_wait 10 tray_menu_open || desktop_fail "the tray menu did not open"
    sleep 1
}
# choose_menu_entry NAME Y: clicks the open menu's entry at height Y in the
# menu (no window manager here gives the menu keyboard focus), with a picture
# of the entry under the pointer first.
choose_menu_entry() {
    xdotool mousemove --window "$(tray_menu)" 40 "$2"
    sleep 0.3
    shot "menu-$1"
    xdotool click 1
}
open_tray_menu
shot tray-menu-open
if [ "$demo" = --demo ]; then
    xdotool key Escape
    desktop_say "Notification received: $last_notification"
    desktop_say "Screenshots:$(printf '\n    %s' "$artifacts"/*.png)"
    exit 0
fi
requests=$(service_requests)
choose_menu_entry check-now 9
expect_check "Check now" checked-now

echo "3. Sign Out from the tray menu, and a restart of the sign-in window"
open_tray_menu
choose_menu_entry sign-out 55
desktop_wait 10 not desktop_record_stored || desktop_fail "the record is still in the keyring after Sign Out"
kill "${signin_pids[@]}" 2>/dev/null || true
desktop_wait 10 not signin_window_open || true
stop_owner $notifier
start_signin signin2.log
sleep 1
# With nothing stored the sign-in program starts in the signed-out view and
# does not start the notifier.
desktop_bus_name_owned $notifier && desktop_fail "a restart after Sign Out still saw a user"
signin_shot restarted-window
apart=$(pixels_apart "$signed_out_picture" "$picture")
[ "$apart" -lt 500 ] || desktop_fail "the restarted window is not the signed-out view ($apart pixels differ)"

echo "4. a refused password"
type_into_signin "$user" "wrong password"
desktop_wait 20 signin_alert_open || desktop_fail "no alert for the refused password"
shot refused-alert
desktop_record_stored && desktop_fail "a refused sign-in stored a record"
echo "sign-in road: all steps passed; screenshots in $artifacts"
