#!/usr/bin/env bash
# Installs, builds and runs every test, then again under AddressSanitizer and
# UndefinedBehaviorSanitizer, and the concurrent read paths (the disk tests,
# the direct client's threaded tests) under ThreadSanitizer.
# SKIP_SANITIZERS=1 runs the plain build only.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs="$(nproc)"
scripts/build.sh release >/dev/null
ctest --test-dir build --output-on-failure -j"$jobs"
if [ "${SKIP_SANITIZERS:-0}" != "1" ]; then
  scripts/build.sh asan >/dev/null
  # The sweeps run whole jobs as processes many times over, and the large
  # volume's backups move gigabytes through code the other tests cover; the
  # plain build runs them, the sanitizers run everything else.
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j"$jobs" -LE sweep -E LargeVolume
  cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DENABLE_TSAN=ON >/dev/null
  cmake --build build-tsan -j"$jobs" --target test_disk test_ebsdirect
  # The disk tests read through the simulated endpoints too.
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions="$PWD/tests/tsan.supp" build-tsan/bin/test_disk
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions="$PWD/tests/tsan.supp" \
    build-tsan/bin/test_ebsdirect \
    --gtest_filter='DirectClientTest.*Thread*:DirectClientTest.ReadsInFlight*:TokenWindows.*'
fi
