#!/usr/bin/env bash
# Installs, builds and runs every test, then again under AddressSanitizer and
# UndefinedBehaviorSanitizer. SKIP_SANITIZERS=1 runs the plain build only.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs="$(nproc)"
scripts/build.sh release >/dev/null
ctest --test-dir build --output-on-failure -j"$jobs"
if [ "${SKIP_SANITIZERS:-0}" != "1" ]; then
  scripts/build.sh asan >/dev/null
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j"$jobs"
fi
