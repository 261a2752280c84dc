#!/usr/bin/env bash
# tidy.sh BUILD_DIR: runs clang-tidy with the tree's .clang-tidy over the
# programs' and libraries' sources of a configured build (its
# compile_commands.json, and the generated moc files, so BUILD_DIR must have
# been built once). Slow: not part of the test command.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: tidy.sh BUILD_DIR}" && pwd)
if [ ! -f "$build/compile_commands.json" ]; then
    echo "tidy.sh: $build has no compile_commands.json; configure it with scripts/build.sh first" >&2
    exit 2
fi
cd "$root"
exec run-clang-tidy-14 -p "$build" -quiet -j "${TIDY_JOBS:-1}" \
    "$root/(common|platform|signin|statusbar|installer|service)/"
