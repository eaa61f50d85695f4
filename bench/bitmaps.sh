#!/usr/bin/env bash
# bench/bitmaps.sh [--runs N]: builds seuiller and the copy floor in release mode (in build-bench/)
# and writes the report of bench/bitmaps.py into bench/README.md: bitmap output and pipelines in /dev/shm and on the
# disk that build-bench/ is on (a few minutes; its files are removed at the end).
#
# Set-up, once (Google Benchmark for the other benchmarks of build-bench/; strace for the
# system-call count):
#   apt-get install -y libbenchmark-dev strace
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DIMAGEFILES_BUILD_BENCHMARKS=ON \
  -DIMAGEFILES_BUILD_TESTS=OFF -DIMAGEFILES_BUILD_EXAMPLES=OFF >/dev/null
cmake --build build-bench -j2 --target seuiller copy_floor >/dev/null
python3 bench/bitmaps.py --seuiller build-bench/tools/seuiller \
  --copy-floor build-bench/bench/copy_floor --disk build-bench/bitmaps "$@"
