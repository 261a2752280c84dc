#!/usr/bin/env bash
# build.sh [BUILD_DIR] [--programs] [CMAKE OPTION...]
# Configures and builds the suite in BUILD_DIR, build/ by default: everything,
# or with --programs the four programs alone (no tests). The programs
# trust a loopback certificate authority of this build's own (BUILD_DIR/pki),
# made by the reference service, so that they can talk to that service with
# verification on.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
if [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; then
    build=$1
    shift
fi
targets=()
if [ "${1:-}" = --programs ]; then
    targets=(--target TarvenDESK tarvenDESKStatusBar installer tarvendesk-service)
    shift
fi

cmake -S "$root" -B "$build" -G Ninja "$@"
cmake --build "$build" --target tarvendesk-service
if [ ! -f "$build/pki/ca.pem" ]; then
    "$build/bin/tarvendesk-service" make-cert --out "$build/pki"
fi
cmake -S "$root" -B "$build" -DTARVENDESK_SERVICE_CA="$build/pki/ca.pem" >/dev/null
cmake --build "$build" "${targets[@]}"
