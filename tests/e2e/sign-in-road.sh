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

work=$(mktemp -d /tmp/tarvendesk-e2e.XXXXXX)
# The programs go before the display they are on: the sign-in programs this
# road started, and the notifier the private bus started for it; copies a
# person runs elsewhere are not this road's. The logs stay with the screenshots.
signin_pids=()
end_notifier() {
    local pid
    pid=$(desktop_bus_name_pid org.tarvendesk.tarvenDESKStatusBar)
    [ -z "$pid" ] || kill "$@" "$pid" 2>/dev/null || true
}
trap 'kill -KILL "${signin_pids[@]}" 2>/dev/null || true; end_notifier -KILL; desktop_stop_all
    cp "$work"/*.log "$artifacts/" 2>/dev/null || true; rm -rf "$work"' EXIT
rm -rf "$artifacts"; mkdir -p "$artifacts"
step=0
shot() { step=$((step + 1)); desktop_screenshot "$artifacts/$(printf '%02d' $step)-$1.png"; }

if [ "$demo" = --demo ]; then
    { true >&3; } 2>/dev/null && desktop_say_fd=3
    user=demo
    read -r password <"$demo_dir/password"
    desktop_say "Demo user: $user, password: $password"
else
    user="e2e user"
    password='pa ss&=+%é'
fi
expected="tarvenDESK!|Expiring : 2, Critical :1, Expired : 3"

export XDG_DATA_DIRS="$build/share:${XDG_DATA_DIRS:-/usr/local/share:/usr/share}"
desktop_start_display
desktop_start_notifications "$work"
desktop_start_tray
service_dir=${demo_dir:-$work}
[ "$demo" = --demo ] || { cp "$build/pki/cert.pem" "$build/pki/key.pem" "$work/"
    desktop_add_demo_user "$build/bin" "$work/service.db" "$user" "$password"; }
if [ "$demo" = --demo ]; then
    # The address the programs of this build were made for, as on a desktop.
    desktop_start_service "$build/bin" "$service_dir" "$(desktop_service_listen_address "$build")"
else
    desktop_start_service_for_session "$build" "$service_dir"
fi

not() { ! "$@"; }
signin_window() { xdotool search --onlyvisible --class '^TarvenDESK$' | head -1; }
signin_window_open() { [ -n "$(signin_window)" ]; }
signin_alert_open() { [ "$(xdotool search --onlyvisible --class '^TarvenDESK$' | wc -l)" -ge 2 ]; }
# signin_shot NAME: a picture of the sign-in window alone, kept with the
# others; its path is left in $signin_picture.
signin_shot() {
    step=$((step + 1))
    signin_picture="$artifacts/$(printf '%02d' $step)-$1.png"
    import -window "$(signin_window)" "$signin_picture"
}
# How many pixels two pictures of the window differ by; a text caret or a
# focus frame is a few hundred at most, another view of the window thousands.
pixels_apart() {
    compare -metric AE "$1" "$2" null: 2>&1 || true
}
type_into_signin() {
    local window
    window=$(signin_window)
    desktop_keymap_add "$1$2"
    xdotool windowfocus --sync "$window"
    xdotool type --delay 20 "$1"
    xdotool key Tab
    # From standard input, so that the password is on no command line.
    printf '%s' "$2" | xdotool type --delay 20 --file -
    xdotool key Return
}

# expect_notification WHY SHOT: waits for one more notification than the
# daemon had, takes the picture SHOT while it is on the screen, and checks
# that every one the daemon has reads the user's counts (read in functions,
# so that desktop_wait reads them anew each time).
notified=0
notifications_more_than() { [ "$(desktop_notification_count)" -gt "$1" ]; }
notification_displayed() { [ "$(dunstctl count displayed)" -gt 0 ]; }
expect_notification() {
    desktop_wait 60 notifications_more_than $notified || desktop_fail "$1"
    # Reading the notifications back closes them: the picture comes first.
    desktop_wait 5 notification_displayed || true
    sleep 0.5
    shot "$2"
    local received
    received=$(desktop_received_notifications)
    notified=$(echo "$received" | wc -l)
    echo "$received" | grep -vxF "$expected" >/dev/null \
        && desktop_fail "a notification does not read the counts: $received"
    last_notification=$(echo "$received" | tail -1)
    desktop_say "   notified: $last_notification"
}

desktop_say "1. the sign-in window"
"$build/bin/TarvenDESK" >"$work/signin.log" 2>&1 &
signin_pids+=($!)
desktop_wait 20 signin_window_open || desktop_fail "the sign-in window did not open"
sleep 1
if [ "$demo" = --demo ] && desktop_record_stored; then
    desktop_say "   signed in already: the keyring keeps the record of the last run"
    signin_shot signed-in-window
else
    signin_shot signed-out-window
    signed_out_picture=$signin_picture
    type_into_signin "$user" "$password"
    desktop_wait 20 desktop_record_stored || desktop_fail "no details record in the keyring after signing in"
    desktop_say "   signed in with real key presses: the record is in the keyring"
    sleep 1
    signin_shot signed-in-window
    [ "$(pixels_apart "$signed_out_picture" "$signin_picture")" -gt 2000 ] \
        || desktop_fail "the window did not change to the signed-in view"
fi
desktop_wait 20 desktop_bus_name_owned org.tarvendesk.tarvenDESKStatusBar \
    || desktop_fail "the notifier was not started by the activation"
desktop_say "   the notifier runs"
expect_notification "no notification arrived" signed-in-and-notified

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
check_now_entry=9
sign_out_entry=55
open_tray_menu
shot tray-menu-open
if [ "$demo" = --demo ]; then
    xdotool key Escape
    desktop_say "Notification received: $last_notification"
    desktop_say "Screenshots:"
    for picture in "$artifacts"/*.png; do
        desktop_say "    $picture"
    done
    exit 0
fi
service_requests() { grep -c '^POST ' "$service_dir/service.log" || true; }
requests_more_than() { [ "$(service_requests)" -gt "$1" ]; }
requests_before=$(service_requests)
echo "   Check now"
choose_menu_entry check-now $check_now_entry
desktop_wait 20 requests_more_than "$requests_before" || desktop_fail "Check now asked the service nothing"
expect_notification "Check now delivered no notification" checked-now

echo "3. Sign Out from the tray menu, and a restart of the sign-in window"
open_tray_menu
choose_menu_entry sign-out $sign_out_entry
desktop_wait 10 not desktop_record_stored \
    || desktop_fail "the record is still in the keyring after Sign Out"
echo "   the record is gone"
kill "${signin_pids[@]}" 2>/dev/null || true
desktop_wait 10 not signin_window_open || true
end_notifier
desktop_wait 10 not desktop_bus_name_owned org.tarvendesk.tarvenDESKStatusBar || true
"$build/bin/TarvenDESK" >"$work/signin2.log" 2>&1 &
signin_pids+=($!)
desktop_wait 20 signin_window_open || desktop_fail "the restarted sign-in window did not open"
sleep 2
# With nothing stored the sign-in program starts in the signed-out view and
# does not start the notifier.
desktop_bus_name_owned org.tarvendesk.tarvenDESKStatusBar && desktop_fail "a restart after Sign Out still saw a user"
signin_shot restarted-window
apart=$(pixels_apart "$signed_out_picture" "$signin_picture")
[ "$apart" -lt 500 ] || desktop_fail "the restarted window is not the signed-out view ($apart pixels differ)"
echo "   the restarted window shows the signed-out view"

echo "4. a refused password"
type_into_signin "$user" "wrong password"
desktop_wait 20 signin_alert_open \
    || desktop_fail "no alert for the refused password"
shot refused-alert
desktop_record_stored && desktop_fail "a refused sign-in stored a record"
echo "   refused, nothing stored"
echo "sign-in road: all steps passed; screenshots in $artifacts"
