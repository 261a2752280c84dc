#!/usr/bin/env bash
# The whole test run on a fresh Debian 12 machine: installs what is missing,
# checks that the C++ follows the tree's .clang-format, then three passes, each
# in a build folder of its own and through a preset of CMakePresets.json
# (ci under CI, with warnings as errors, dev otherwise; asan; fuzz), stopping
# at the first that fails:
#   build/       the suite as it ships and every test, in a private desktop session,
#                then its Debian package checked (lintian, desktop entries, AppStream);
#   build-asan/  the same suite and tests (but the end-to-end road) under AddressSanitizer and
#                UndefinedBehaviorSanitizer, in a private session of its own
#                (the bus there starts this build's programs, not build/'s);
#   build-fuzz/  the fuzz targets (clang and libFuzzer), each fuzzing for a
#                short while from its seeds.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/install-deps.sh" test
"$root/scripts/check-format.sh"
preset=dev
[ -n "${CI:-}" ] && preset=ci
"$root/scripts/build.sh" "$root/build" --preset "$preset"
"$root/scripts/in-test-session.sh" "$root/build" ctest --test-dir "$root/build" --output-on-failure
"$root/scripts/lib/check-package.sh" "$root/build"

# Exported before the session starts, so that programs the bus starts get
# them too. Leak checking stays on; the suppressions cover only leaks inside
# the libraries the suite stands on.
export ASAN_OPTIONS=detect_leaks=1:strict_init_order=1:check_initialization_order=1
export LSAN_OPTIONS=suppressions=$root/scripts/lsan-suppressions.txt:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export ASAN_SYMBOLIZER_PATH=/usr/lib/llvm-14/bin/llvm-symbolizer

# Warnings are the first pass's business: gcc's instrumentation can raise
# warnings of its own, which are no fault of the code.
"$root/scripts/build.sh" "$root/build-asan" --preset asan
# The end-to-end roads too: the sanitized programs are slow enough to meet
# the races a road can leave open.
"$root/scripts/in-test-session.sh" "$root/build-asan" ctest --test-dir "$root/build-asan" --output-on-failure

cd "$root"
cmake --preset fuzz
cmake --build --preset fuzz
ctest --preset fuzz
