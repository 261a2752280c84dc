#!/usr/bin/env bash
# in-test-session.sh BUILD_DIR COMMAND...
# Runs COMMAND in a private desktop session of its own: a session bus that
# knows this build's D-Bus services and none of the machine's, and an unlocked
# gnome-keyring-daemon holding a throwaway keyring. Nothing of the user's own
# session, keyring or notifications is touched. With TARVENDESK_SESSION_DATA_HOME
# naming a folder, the session's data (its keyring) is kept there from one
# session to the next. TERM, INT or HUP ends the session as its end does: the
# keyring daemon stopped and the session's folder removed, once COMMAND has
# ended (it gets the signal from the same process group).
set -euo pipefail
build=$(cd "$1" && pwd); shift
trap 'exit 143' TERM
trap 'exit 130' INT
trap 'exit 129' HUP

if [ -z "${TARVENDESK_IN_TEST_SESSION:-}" ]; then
    home=$(mktemp -d /tmp/tarvendesk-session.XXXXXX)
    trap 'rm -rf "$home"' EXIT
    mkdir -m 700 "$home/runtime"
    data="$home/data"
    if [ -n "${TARVENDESK_SESSION_DATA_HOME:-}" ]; then
        data=$TARVENDESK_SESSION_DATA_HOME
        mkdir -p -m 700 "$data"
    fi
    export XDG_RUNTIME_DIR="$home/runtime" XDG_DATA_HOME="$data" XDG_CONFIG_HOME="$home/config" \
        XDG_CACHE_HOME="$home/cache" XDG_DATA_DIRS="$build/share:/usr/local/share:/usr/share" \
        TARVENDESK_IN_TEST_SESSION=1
    unset DISPLAY WAYLAND_DISPLAY
    dbus-run-session --config-file="$build/tests/session.conf" -- "$0" "$build" "$@"
    exit $?
fi

# Only this session's daemon: other sessions may be running theirs.
keyring_pid=
trap '[ -n "$keyring_pid" ] && kill "$keyring_pid" 2>/dev/null || true' EXIT
# The same password as the tests' TARVENDESK_TEST_KEYRING_PASSWORD; printf is
# a builtin, so it appears on no command line.
printf '%s' 'tarvendesk-test-keyring' | gnome-keyring-daemon --unlock --components=secrets --daemonize >/dev/null
for _ in $(seq 50); do
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null | grep -q true && break
    sleep 0.1
done
keyring_pid=$(dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.GetConnectionUnixProcessID string:org.freedesktop.secrets 2>/dev/null | awk '/uint32/ {print $2}')
status=0
"$@" || status=$?
exit $status
