#!/usr/bin/env bash
# Builds the suite and starts it. The programs are still being written: this
# builds what there is and says plainly what is not there yet.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"

missing=()
for program in TarvenDESK tarvenDESKStatusBar installer tarvendesk-service; do
    [ -x "$build/bin/$program" ] || missing+=("$program")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Built the shared core. Not there yet: ${missing[*]}." >&2
    echo "Nothing was started." >&2
    exit 1
fi
