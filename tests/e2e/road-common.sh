# Sourced by the end-to-end roads after scripts/lib/desktop-session.sh: what
# the roads do alike, on the desktop and service it starts.

# The counts of desktop_add_demo_user's documents, as a notification reads them.
counts="Expiring : 2, Critical :1, Expired : 3"
notifier=org.tarvendesk.tarvenDESKStatusBar
signin=org.tarvendesk.TarvenDESK

not() { ! "$@"; }

# road_end: the road's own road_before_end (by default its sign-in programs
# end), the desktop's end, and the logs in $work kept in $artifacts.
road_before_end() { kill "${signin_pids[@]}" 2>/dev/null || true; }
road_end() { road_before_end; desktop_stop_all; cp "$work"/*.log "$artifacts/" 2>/dev/null || true; }
# road_start_x_desktop NAME: a work folder in $work, removed after road_end,
# an X display and a notification daemon.
road_start_x_desktop() {
    work=$(mktemp -d "/tmp/tarvendesk-$1.XXXXXX")
    trap 'road_end; rm -rf "$work"' EXIT
    rm -rf "$artifacts"; mkdir -p "$artifacts"
    export XDG_DATA_DIRS="$build/share:${XDG_DATA_DIRS:-/usr/local/share:/usr/share}"
    desktop_start_display
    desktop_start_notifications "$work"
}

# road_start_service USER PASSWORD: the demo user's documents served from $work.
road_start_service() {
    [ -e "$work/cert.pem" ] || cp "$build/pki/cert.pem" "$build/pki/key.pem" "$work/"
    desktop_add_demo_user "$build/bin" "$work/service.db" "$1" "$2"
    desktop_start_service_for_session "$build" "$work"
}

# stop_owner NAME [SIGNAL]: ends the program that holds NAME on the bus, by its pid.
stop_owner() {
    local pid
    pid=$(desktop_bus_name_pid "$1")
    [ -z "$pid" ] || kill ${2:+"$2"} "$pid" 2>/dev/null || true
    desktop_wait 10 not desktop_bus_name_owned "$1" || true
}

# Pictures, numbered in the order taken, the last one's path in $picture:
# shot NAME [WINDOW] of the screen or one window, signin_shot of the sign-in window.
step=0
shot() { step=$((step + 1)); picture="$artifacts/$(printf '%02d' $step)-$1.png"; import -window "${2:-root}" "$picture"; }
signin_window() { xdotool search --onlyvisible --class '^TarvenDESK$' | head -1; }
signin_window_open() { [ -n "$(signin_window)" ]; }
signin_shot() { shot "$1" "$(signin_window)"; }
# start_signin LOG: the sign-in program, its pid added to $signin_pids, once its window is open.
signin_pids=()
start_signin() {
    "$build/bin/TarvenDESK" >"$work/$1" 2>&1 &
    signin_pids+=($!)
    desktop_wait 20 signin_window_open || desktop_fail "the sign-in window did not open ($1)"
    sleep 1
}
# How many pixels two pictures of the window differ by; a text caret or a
# focus frame is a few hundred at most, another view of the window thousands.
pixels_apart() { compare -metric AE "$1" "$2" null: 2>&1 || true; }

# type_into_signin USER PASSWORD [PID]: typed into the sign-in window; with
# PID the password is typed while that program is held, as a slow one (under
# the sanitizers) would be: it reads the keyboard map only once the keys are in.
type_into_signin() {
    desktop_keymap_add "$1$2"
    xdotool windowfocus --sync "$(signin_window)"
    xdotool type --delay 20 "$1"
    xdotool key Tab
    [ -z "${3:-}" ] || kill -STOP "$3"
    # From standard input, so that the password is on no command line.
    printf '%s' "$2" | xdotool type --delay 20 --file -
    [ -z "${3:-}" ] || { sleep 0.5; kill -CONT "$3"; }
    xdotool key Return
}

# notifier_state PROPERTY: the value of the notifier's property, as gdbus prints it.
notifier_state() {
    gdbus call --session --dest $notifier --object-path /org/tarvendesk/Notifier \
        --method org.freedesktop.DBus.Properties.Get org.tarvendesk.Notifier "$1" 2>/dev/null \
        | sed -e 's/^(<//' -e 's/>,)$//'
}

# expect_request WHY: one more request to the service than $requests, the new count left there.
requests=0
service_requests() { grep -c '^POST ' "$work/service.log" || true; }
requests_more_than() { [ "$(service_requests)" -gt "$1" ]; }
expect_request() {
    desktop_wait 30 requests_more_than "$requests" || desktop_fail "$1: the service was asked nothing"
    requests=$(service_requests)
}

# expect_notification WHY [SHOT]: one notification more than the daemon had,
# left in $last_notification, all it has in $received; with SHOT a picture of
# it on the screen first, as reading the notifications back closes them.
notified=0
notifications_more_than() { [ "$(desktop_notification_count)" -gt "$1" ]; }
notification_displayed() { [ "$(dunstctl count displayed)" -gt 0 ]; }
expect_notification() {
    desktop_wait 60 notifications_more_than $notified || desktop_fail "$1"
    if [ -n "${2:-}" ]; then
        desktop_wait 5 notification_displayed || true
        sleep 0.5
        shot "$2"
    fi
    received=$(desktop_received_notifications)
    notified=$(echo "$received" | wc -l)
    last_notification=$(echo "$received" | tail -1)
    desktop_say "   notified: $last_notification"
}
# expect_counts WHY [SHOT]: expect_notification, and each new notification reads the user's counts.
expect_counts() {
    local before=$notified
    expect_notification "$@"
    ! echo "$received" | tail -n +$((before + 1)) | grep -vxF "tarvenDESK!|$counts" >/dev/null \
        || desktop_fail "$1: a notification does not read the counts: $received"
}
# expect_check WHY [SHOT]: a request to the service and its notification of the counts.
expect_check() { expect_request "$1"; expect_counts "$1: no notification" "${2:-}"; }
