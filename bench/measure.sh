#!/usr/bin/env bash
# measure.sh BUILD_DIR OUT_DIR [DESKTOP-BENCH OPTION...]
# The measuring half of bench/run.sh, inside the private session that
# scripts/in-test-session.sh makes: a virtual X display, then the programs'
# figures (desktop-bench) and the keychain store's (keychain-bench), as JSON
# in OUT_DIR. The bench itself is the tray host and the notification server.
set -euo pipefail
build=$(cd "$1" && pwd)
out=$2
shift 2
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=../scripts/lib/desktop-session.sh
source "$root/scripts/lib/desktop-session.sh"
trap desktop_stop_all EXIT

cat /proc/loadavg >"$out/load-before"
desktop_start_display
"$build/bin/desktop-bench" --out "$out/desktop.json" "$@"
"$build/bin/keychain-bench" --benchmark_repetitions=15 --benchmark_enable_random_interleaving=true \
    --benchmark_min_time=0.3 --benchmark_out="$out/keychain.json" --benchmark_out_format=json
cat /proc/loadavg >"$out/load-after"
