#!/usr/bin/env bash
# Builds the suite and starts it against the reference service on loopback,
# with a demo user whose documents are expiring, critical and expired.
# On a desktop the sign-in window opens on your own session; without a display
# the same road runs headless and is driven by this script. Ctrl-C, or the end
# of the headless run, stops everything it started.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
    echo "No desktop session here: running the suite headless."
    exec "$root/scripts/in-test-session.sh" "$build" "$root/scripts/demo-headless.sh" "$build"
fi

source "$root/scripts/lib/desktop-session.sh"
demo=$(mktemp -d /tmp/tarvendesk-demo.XXXXXX)
stop() {
    pkill -f "^$build/bin/(TarvenDESK|tarvenDESKStatusBar)( |$)" 2>/dev/null || true
    desktop_stop_all
    rm -rf "$demo"
}
trap stop EXIT
trap 'exit 130' INT TERM

password=$(head -c 32 /dev/urandom | base64 | tr -dc 'A-Za-z0-9' | head -c 12)
cp "$build/pki/cert.pem" "$build/pki/key.pem" "$demo/"
desktop_add_demo_user "$build/bin" "$demo/service.db" demo "$password"
listen=$(desktop_service_listen_address "$build")
desktop_start_service "$build/bin" "$demo" "$listen"

# The programs find each other through their desktop entries in the build.
export XDG_DATA_DIRS="$build/share:${XDG_DATA_DIRS:-/usr/local/share:/usr/share}"
cat <<TEXT
The reference service runs on https://$listen with a demo user:
    user name: demo
    password:  $password
Sign in with them in the window that opens; the notifier then shows the
counts of the demo documents. Press Ctrl-C here to stop everything.
TEXT
"$build/bin/TarvenDESK" &
while :; do
    sleep 3600 &
    wait $!
done
