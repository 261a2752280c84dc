#!/usr/bin/env bash
# trayless-road.sh BUILD_DIR ARTIFACT_DIR
# The road on a desktop without a tray (plain GNOME): an X display and a
# notification daemon, and no tray host of any kind. A typed sign-in, the
# notifier's first notification and its one notice that it has no tray icon,
# its state on its own bus interface, a check from the menu entry's action
# (as GNOME sends it, with the sign-in program not running), the last counts
# and "Check now" in the sign-in window, and the entry's Sign Out.
# Runs inside scripts/in-test-session.sh (a private bus and keyring).
set -euo pipefail
build=$(cd "$1" && pwd)
artifacts=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/desktop-session.sh"
source "$root/tests/e2e/road-common.sh"
road_before_end() { stop_owner $signin; stop_owner $notifier; kill "${signin_pids[@]}" 2>/dev/null || true; }
user="trayless user"
password='tr ay&=+%ü'

road_start_x_desktop trayless
road_start_service "$user" "$password"

state_is() { [ "$(notifier_state "$1")" = "$2" ]; }
# activate_action NAME: as a desktop carries out an entry's action.
activate_action() {
    gdbus call --session --dest $signin --object-path /org/tarvendesk/TarvenDESK \
        --method org.freedesktop.Application.ActivateAction "$1" '[]' '{}' >/dev/null
}

echo "1. a typed sign-in, and the notifier without a tray"
start_signin signin.log
type_into_signin "$user" "$password" "${signin_pids[0]}"
expect_check "the first check"
desktop_wait 10 state_is SignedIn true || desktop_fail "the notifier's interface says nobody is signed in"
state_is HasStatusItem false || desktop_fail "the notifier says it has a tray item with no tray"
state_is LastCheckText "'$counts'" || desktop_fail "the interface's last check: $(notifier_state LastCheckText)"
expect_notification "no notice of the missing tray icon"
[[ $last_notification == "tarvenDESK runs without a tray icon|"* ]] || desktop_fail "not about the tray: $last_notification"

echo "2. the window's last check and its Check now"
sleep 1
signin_shot window-with-last-check
with_check=$picture
xdotool windowfocus --sync "$(signin_window)"
xdotool key alt+w
expect_check "the window's Check now"

echo "3. the menu entry's Check now, with the sign-in program not running"
kill "${signin_pids[0]}"; wait "${signin_pids[0]}" 2>/dev/null || true; signin_pids=()
desktop_wait 10 not desktop_bus_name_owned $signin || desktop_fail "the sign-in program did not end"
activate_action check-now || desktop_fail "the entry's action was refused"
expect_check "the entry's Check now"
desktop_wait 20 signin_window_open || desktop_fail "the action did not start the sign-in program"

echo "4. the window without a notifier, and the entry's Sign Out"
stop_owner $notifier
sleep 1
signin_shot window-without-notifier
apart=$(pixels_apart "$with_check" "$picture")
[ "$apart" -gt 500 ] || desktop_fail "the window shows the same with and without the last check ($apart pixels)"
activate_action sign-out || desktop_fail "the entry's Sign Out was refused"
desktop_wait 10 not desktop_record_stored || desktop_fail "the record is still in the keyring after Sign Out"
shot signed-out
echo "trayless road: all steps passed; screenshots in $artifacts"
