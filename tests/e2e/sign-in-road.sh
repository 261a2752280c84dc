#!/usr/bin/env bash
# sign-in-road.sh BUILD_DIR ARTIFACT_DIR [--demo]
# The whole road of a sign-in, driven as a person would on a real X display:
# real key presses into the sign-in window, the record in the keyring, the
# notifier started by the activation, its notification in a real daemon, the
# tray menu's "Check now" and "Sign Out", and a refused password.
# Runs inside scripts/in-test-session.sh (a private bus and keyring).
# With --demo it stops after the first notification and an open tray menu,
# for a person to see the suite work on a machine without a display.
set -euo pipefail
build=$(cd "$1" && pwd)
artifacts=$2
demo=${3:-}
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/desktop-session.sh"

work=$(mktemp -d /tmp/tarvendesk-e2e.XXXXXX)
trap 'desktop_stop_all; pkill -KILL -f "$build/bin/(TarvenDESK|tarvenDESKStatusBar)" 2>/dev/null || true; rm -rf "$work"' EXIT
rm -rf "$artifacts"; mkdir -p "$artifacts"
step=0
shot() { step=$((step + 1)); desktop_screenshot "$artifacts/$(printf '%02d' $step)-$1.png"; }

if [ "$demo" = --demo ]; then
    user=demo
    password=$(head -c 32 /dev/urandom | base64 | tr -dc 'A-Za-z0-9' | head -c 12)
    echo "Demo user: $user, password: $password"
else
    user="e2e user"
    password='pa ss&=+%é'
fi
expected="tarvenDESK!|Expiring : 2, Critical :1, Expired : 3"

export XDG_DATA_DIRS="$build/share:${XDG_DATA_DIRS:-/usr/local/share:/usr/share}"
desktop_start_display
desktop_start_notifications "$work"
desktop_start_tray
cp "$build/pki/cert.pem" "$build/pki/key.pem" "$work/"
desktop_add_demo_user "$build/bin" "$work/service.db" "$user" "$password"
# The programs are built to talk to this port on loopback.
desktop_start_service "$build/bin" "$work" "localhost:47443"

not() { ! "$@"; }
signin_window() { xdotool search --onlyvisible --class '^TarvenDESK$' | head -1; }
signin_window_open() { [ -n "$(signin_window)" ]; }
signin_alert_open() { [ "$(xdotool search --onlyvisible --class '^TarvenDESK$' | wc -l)" -ge 2 ]; }
type_into_signin() {
    local window
    window=$(signin_window)
    xdotool windowfocus --sync "$window"
    xdotool type --delay 20 "$1"
    xdotool key Tab
    xdotool type --delay 20 "$2"
    xdotool key Return
}

echo "1. sign in with real key presses"
"$build/bin/TarvenDESK" >"$work/signin.log" 2>&1 &
desktop_wait 20 signin_window_open || desktop_fail "the sign-in window did not open"
shot signin-window
type_into_signin "$user" "$password"
desktop_wait 20 desktop_record_stored || desktop_fail "no details record in the keyring after signing in"
echo "   the record is in the keyring"
desktop_wait 20 desktop_bus_name_owned org.tarvendesk.tarvenDESKStatusBar \
    || desktop_fail "the notifier was not started by the activation"
echo "   the notifier runs"
desktop_wait 30 test "$(desktop_displayed_count)" -ge 1 || desktop_fail "no notification arrived"
shot signed-in-and-notified
received=$(desktop_received_notifications)
echo "   received: $received"
[ "$(echo "$received" | tail -1)" = "$expected" ] || desktop_fail "the notification reads '$received'"

echo "2. Check now from the tray menu"
open_tray_menu() {
    local icon
    icon=$(xdotool search --class '^tarvenDESKStatusBar$' | head -1)
    [ -n "$icon" ] || desktop_fail "no tray icon"
    xdotool mousemove --window "$icon" 8 8 click 1
    desktop_wait 10 xdotool search --onlyvisible --class '^tarvenDESKStatusBar$' \
        || desktop_fail "the tray menu did not open"
    sleep 0.5
}
# choose_menu_entry Y: clicks the open menu's entry at height Y in the menu
# (no window manager here gives the menu keyboard focus).
choose_menu_entry() {
    local menu
    menu=$(xdotool search --onlyvisible --class '^tarvenDESKStatusBar$' | tail -1)
    xdotool mousemove --window "$menu" 40 "$1" click 1
}
check_now_entry=9
sign_out_entry=55
open_tray_menu
shot tray-menu-open
if [ "$demo" = --demo ]; then
    xdotool key Escape
    echo "Notification received: $(echo "$received" | tail -1)"
    echo "Screenshots:"
    ls "$artifacts"/*.png | sed 's/^/    /'
    exit 0
fi
choose_menu_entry $check_now_entry
desktop_wait 30 test "$(desktop_displayed_count)" -ge 1 || desktop_fail "Check now delivered no notification"
shot checked-now
received=$(desktop_received_notifications)
[ "$(echo "$received" | tail -1)" = "$expected" ] || desktop_fail "Check now notified '$received'"
echo "   received: $(echo "$received" | tail -1)"

echo "3. Sign Out from the tray menu"
open_tray_menu
choose_menu_entry $sign_out_entry
desktop_wait 10 not desktop_record_stored \
    || desktop_fail "the record is still in the keyring after Sign Out"
echo "   the record is gone"
pkill -f "$build/bin/TarvenDESK" || true
desktop_wait 10 not signin_window_open || true
pkill -f "$build/bin/tarvenDESKStatusBar" || true
desktop_wait 10 not desktop_bus_name_owned org.tarvendesk.tarvenDESKStatusBar || true
"$build/bin/TarvenDESK" >"$work/signin2.log" 2>&1 &
desktop_wait 20 signin_window_open || desktop_fail "the restarted sign-in window did not open"
sleep 2
# With nothing stored the sign-in program starts in the signed-out view and
# does not start the notifier.
desktop_bus_name_owned org.tarvendesk.tarvenDESKStatusBar && desktop_fail "a restart after Sign Out still saw a user"
shot signed-out-view

echo "4. a refused password"
type_into_signin "$user" "wrong password"
desktop_wait 20 signin_alert_open \
    || desktop_fail "no alert for the refused password"
shot refused-alert
desktop_record_stored && desktop_fail "a refused sign-in stored a record"
xdotool key Return
echo "   refused, nothing stored"
echo "sign-in road: all steps passed; screenshots in $artifacts"
