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
. bench/build.sh
release_build -DIMAGEFILES_BUILD_BENCHMARKS=ON seuiller copy_floor
python3 bench/bitmaps.py --seuiller build-bench/tools/seuiller \
  --copy-floor build-bench/bench/copy_floor --disk build-bench/bitmaps "$@"
