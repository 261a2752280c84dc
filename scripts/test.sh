#!/usr/bin/env bash
# The whole test run on a fresh Debian 12 machine: installs what is missing,
# builds, and runs every test with ctest in a private desktop session.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"

"$root/scripts/install-deps.sh"
werror=OFF
[ -n "${CI:-}" ] && werror=ON
"$root/scripts/build.sh" -DTARVENDESK_WERROR=$werror
"$root/scripts/in-test-session.sh" "$build" ctest --test-dir "$build" --output-on-failure
