#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite.
# With "sanitize" it builds with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:-release}
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" "$kind"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$root/build/$kind" --output-on-failure -j "$(nproc)"
