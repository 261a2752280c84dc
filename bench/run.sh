#!/usr/bin/env bash
# bench/run.sh [--quick]
# Builds the suite and its benchmarks in release mode (build-release/), runs
# every benchmark inside a private session on a virtual display, and writes
# the table of figures to bench/results.md. --quick makes a short run with
# few samples, to see that everything works; its figures mean little and go
# to build-release/bench-quick-results.md. The samples stay in
# build-release/bench/ (bench-quick/) as JSON.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-release"
# A port of the bench's own: the tests' end-to-end road uses the default one,
# and other sessions may be running it.
url="https://localhost:47643/ex-libs/get-severity-count"
desktop_args=()
command="bench/run.sh"
results="$root/bench/results.md"
out="$build/bench"
if [ "${1:-}" = "--quick" ]; then
    desktop_args=(--runs 2 --checks 20 --idle-seconds 5 --idle-windows 1 --unlocks 2)
    command="bench/run.sh --quick"
    # Figures that mean little stay out of the recorded ones.
    results="$build/bench-quick-results.md"
    out="$build/bench-quick"
fi

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVENDESK_BENCH=ON \
    -DTARVENDESK_SERVICE_URL="$url" >/dev/null
cmake --build "$build" --target tarvendesk-service
if [ ! -f "$build/pki/ca.pem" ]; then
    "$build/bin/tarvendesk-service" make-cert --out "$build/pki"
fi
cmake -S "$root" -B "$build" -DTARVENDESK_SERVICE_CA="$build/pki/ca.pem" >/dev/null
cmake --build "$build" -j2 --target desktop-bench keychain-bench

rm -rf "$out" && mkdir -p "$out"
"$root/scripts/in-test-session.sh" "$build" "$root/bench/measure.sh" "$build" "$out" "${desktop_args[@]}"
python3 "$root/bench/report.py" --command "$command" "$out" >"$results"
echo "$results:"
cat "$results"
