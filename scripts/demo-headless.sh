#!/usr/bin/env bash
# demo-headless.sh BUILD_DIR DEMO_DIR
# The suite's road on a machine without a display, inside a private session
# (scripts/in-test-session.sh): a virtual display, a notification daemon and a
# tray, the reference service with the demo user of DEMO_DIR (scripts/run.sh
# makes it), and real key presses into the sign-in window, or the sign-in the
# keyring kept from the last run. Prints the notification received and the
# screenshots made, to descriptor 3 when that is open (the components' output
# stays on standard output and error); exits 0 only if the notification
# arrived with the demo counts.
set -euo pipefail
build=$(cd "$1" && pwd)
demo=$(cd "$2" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
exec "$root/tests/e2e/sign-in-road.sh" "$build" "$build/demo-screenshots" --demo "$demo"
