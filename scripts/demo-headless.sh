#!/usr/bin/env bash
# demo-headless.sh BUILD_DIR
# The suite's road on a machine without a display, inside a private session
# (scripts/in-test-session.sh): a virtual display, a notification daemon and a
# tray, the reference service with a demo user, and real key presses into the
# sign-in window. Prints the notification received and the screenshots made;
# exits 0 only if the notification arrived with the demo counts.
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
exec "$root/tests/e2e/sign-in-road.sh" "$build" "$build/demo-screenshots" --demo
