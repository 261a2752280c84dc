# Sourced by the demo and the end-to-end tests: starts the pieces of a
# desktop that a headless machine lacks (an X display, a notification daemon,
# a tray), the reference service, and stops everything it started on exit.
# Expects a session bus and a keyring daemon to be there already
# (scripts/in-test-session.sh makes both).

desktop_pids=()

# A signal ends the script through its EXIT trap, as its end does.
trap 'exit 143' TERM
trap 'exit 130' INT
trap 'exit 129' HUP

# The lines meant for a person go to standard output, or to the descriptor
# desktop_say_fd names: the demo sends everything else to its log.
desktop_say() {
    printf '%s\n' "$*" >&"${desktop_say_fd:-1}"
}

desktop_stop_all() {
    local pid
    for pid in "${desktop_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${desktop_pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    desktop_pids=()
}

desktop_fail() {
    printf 'FAILED: %s\n' "$*" >&"${desktop_say_fd:-2}"
    exit 1
}

# desktop_wait SECONDS COMMAND...: runs COMMAND until it succeeds.
desktop_wait() {
    local seconds=$1; shift
    local deadline=$((SECONDS + seconds))
    until "$@" >/dev/null 2>&1; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.2
    done
}

desktop_start_display() {
    local fifo
    fifo=$(mktemp -u); mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    desktop_pids+=($!)
    local number
    read -r number <"$fifo"; rm -f "$fifo"
    export DISPLAY=":$number" QT_QPA_PLATFORM=xcb
    unset WAYLAND_DISPLAY
    # Programs the bus starts get the same display.
    dbus-update-activation-environment DISPLAY QT_QPA_PLATFORM XDG_DATA_DIRS >/dev/null 2>&1 || true
}

desktop_start_notifications() {
    local config="$1/dunstrc"
    cat >"$config" <<'DUNST'
[global]
    font = DejaVu Sans 10
    width = 360
    # Away from the tray and its menu, which a notification arriving while
    # the menu is open would otherwise cover.
    origin = bottom-right
    offset = 12x12
[urgency_normal]
    timeout = 0
DUNST
    dunst -config "$config" >/dev/null 2>&1 &
    desktop_pids+=($!)
    desktop_wait 10 dbus-send --session --print-reply --dest=org.freedesktop.Notifications \
        /org/freedesktop/Notifications org.freedesktop.Notifications.GetServerInformation \
        || desktop_fail "the notification daemon did not come up"
}

desktop_start_tray() {
    trayer --edge top --align right --widthtype request --height 28 --transparent false \
        --tint 0x404040 >/dev/null 2>&1 &
    desktop_pids+=($!)
    desktop_wait 10 xdotool search --class trayer || desktop_fail "the tray did not come up"
}

# desktop_start_service BIN DIR LISTEN: serves DIR/service.db with DIR's certificate.
desktop_start_service() {
    local bin=$1 dir=$2 listen=$3
    "$bin/tarvendesk-service" serve --listen "$listen" --db "$dir/service.db" \
        --cert "$dir/cert.pem" --key "$dir/key.pem" >"$dir/service.log" 2>&1 &
    desktop_pids+=($!)
    desktop_wait 15 grep -q '^listening on' "$dir/service.log" \
        || desktop_fail "the reference service did not start: $(cat "$dir/service.log")"
}

# desktop_start_service_for_session BUILD DIR: as desktop_start_service, on a
# free port of the build's loopback host rather than the build's own (which
# the demo, or another build's road, may hold), and names that service in the
# private session's configuration file, which the programs and the ones the
# bus starts read. Only inside scripts/in-test-session.sh, never a person's.
desktop_start_service_for_session() {
    local build=$1 dir=$2 address url port
    [ -n "${TARVENDESK_IN_TEST_SESSION:-}" ] && [ -n "${XDG_CONFIG_HOME:-}" ] \
        || desktop_fail "a configuration of its own is written only in a private session"
    address=$(desktop_service_listen_address "$build")
    desktop_start_service "$build/bin" "$dir" "${address%:*}:0"
    port=$(sed -n 's|^listening on https://.*:\([0-9]*\)$|\1|p' "$dir/service.log")
    url=$(sed -n 's|^TARVENDESK_SERVICE_URL:[A-Z]*=||p' "$build/CMakeCache.txt")
    mkdir -p "$XDG_CONFIG_HOME/tarvenDESK"
    printf '[Service]\nURL=%s\n' "${url/:${address##*:}\//:$port/}" >"$XDG_CONFIG_HOME/tarvenDESK/tarvenDESK.conf"
}

# desktop_add_demo_user BIN DB NAME PASSWORD: the user and documents whose
# counts are 2 expiring, 1 critical and 3 expired.
desktop_add_demo_user() {
    local bin=$1 db=$2 name=$3 password=$4
    printf '%s\n' "$password" | "$bin/tarvendesk-service" add-user --db "$db" "$name" >/dev/null
    local days title
    for entry in "20:Lease agreement" "25:Vehicle insurance" "3:Passport" "-1:Visa" "-30:Work permit" \
        "-400:Old contract"; do
        days=${entry%%:*}; title=${entry#*:}
        "$bin/tarvendesk-service" add-document --db "$db" "$name" "$title" \
            "$(date -d "$days days" +%F)" >/dev/null
    done
}

# desktop_keymap_add TEXT: puts each character of TEXT that the keyboard map
# lacks on a free keycode of its own, before TEXT is typed. xdotool would map
# such a character for its one key press and take it away at once: a program
# that reads the new map only after that (a slow one, as under the
# sanitizers) finds no character for the key, and the key is lost. Read from
# standard input, so that no character of TEXT is on a command line.
desktop_keymap_add() {
    local free
    free=$(xmodmap -pke | awk '$1 == "keycode" && NF == 3 {print $2}' | tr '\n' ' ')
    printf '%s' "$1" | python3 -c '
import sys
free = sys.argv[1].split()
missing = sorted({ord(c) for c in sys.stdin.read() if ord(c) > 126})
for code, char in zip(free, missing):
    print("keycode %s = U%04X U%04X" % (code, char, char))
' "$free" | xmodmap -
}

desktop_screenshot() {
    import -window root "$1"
}

# The notifications the daemon has shown, one "summary|body" line each,
# oldest first; shown ones are moved to the history to be read back.
desktop_received_notifications() {
    dunstctl close-all
    sleep 0.3
    dunstctl history | python3 -c '
import json, sys
for n in reversed(json.load(sys.stdin)["data"][0]):
    print(n["summary"]["data"] + "|" + n["body"]["data"])
'
}

# Every notification the daemon has received: shown, waiting or in its history.
desktop_notification_count() {
    echo $(( $(dunstctl count displayed) + $(dunstctl count waiting) + $(dunstctl count history) ))
}

# The service address the programs of BUILD were made to talk to, host:port.
desktop_service_listen_address() {
    sed -n 's|^TARVENDESK_SERVICE_URL:[A-Z]*=https://\([^/]*\).*|\1|p' "$1/CMakeCache.txt"
}

# The process that holds NAME on the session bus; nothing when none does.
desktop_bus_name_pid() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.GetConnectionUnixProcessID "string:$1" 2>/dev/null | awk '/uint32/ {print $2}' \
        || true
}

desktop_bus_name_owned() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q 'boolean true'
}

# Whether the keyring holds the suite's details record.
desktop_record_stored() {
    dbus-send --session --print-reply --dest=org.freedesktop.secrets /org/freedesktop/secrets \
        org.freedesktop.Secret.Service.SearchItems \
        'dict:string:string:account,tarvenDeskDetails,service,tarvenDeskService' 2>/dev/null \
        | grep -q 'object path'
}
