#!/usr/bin/env bash
# bench/thresholds.sh [--rounds N]: builds the library's threshold benchmark and seuiller in release
# mode (in build-bench/) and writes the report of bench/thresholds.py into bench/README.md: Otsu, Sauvola, Niblack and
# Wolf against OpenCV and scikit-image, in memory and as whole processes (a few minutes).
#
# Set-up, once (Google Benchmark for the other benchmarks of build-bench/; the peers):
#   apt-get install -y libbenchmark-dev python3-opencv python3-skimage time
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DIMAGEFILES_BUILD_BENCHMARKS=ON \
  -DIMAGEFILES_BUILD_TESTS=OFF -DIMAGEFILES_BUILD_EXAMPLES=OFF >/dev/null
cmake --build build-bench -j2 --target threshold_bench seuiller >/dev/null
/usr/bin/python3 bench/thresholds.py --bench build-bench/bench/threshold_bench \
  --seuiller build-bench/tools/seuiller "$@"
