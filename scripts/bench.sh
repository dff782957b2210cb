#!/usr/bin/env bash
# Builds and runs every data-path benchmark (doc/performance.md shows the
# latest figures). Benchmarks time this machine: run them on an otherwise
# idle machine. Arguments go to the program: a subset (sign, tokens,
# hotadd, direct) and --quick for a short smoke run; BENCH_THREADS=N runs
# the direct reads from N threads only.
#   scripts/bench.sh [all|sign|tokens|hotadd|direct] [--quick]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target datapath-bench >/dev/null
exec build/bin/datapath-bench "$@"
