#!/usr/bin/env bash
# build.sh [CMAKE OPTION...]
# Configures and builds the suite in build/. The programs trust a loopback
# certificate authority of this build's own (build/pki), made by the reference
# service, so that they can talk to that service with verification on.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"

cmake -S "$root" -B "$build" -G Ninja "$@"
cmake --build "$build" --target tarvendesk-service
if [ ! -f "$build/pki/ca.pem" ]; then
    "$build/bin/tarvendesk-service" make-cert --out "$build/pki"
fi
cmake -S "$root" -B "$build" -DTARVENDESK_SERVICE_CA="$build/pki/ca.pem" >/dev/null
cmake --build "$build"
