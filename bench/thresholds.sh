#!/usr/bin/env bash
# bench/thresholds.sh [--rounds N]: builds the library's threshold benchmark and seuiller in release
# mode (in build-bench/) and writes the report of bench/thresholds.py into bench/README.md: Otsu, Sauvola, Niblack and
# Wolf against OpenCV and scikit-image, in memory and as whole processes (a few minutes).
#
# Set-up, once (Google Benchmark for the other benchmarks of build-bench/; the peers):
#   apt-get install -y libbenchmark-dev python3-opencv python3-skimage time
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/build.sh
release_build -DIMAGEFILES_BUILD_BENCHMARKS=ON threshold_bench seuiller
/usr/bin/python3 bench/thresholds.py --bench build-bench/bench/threshold_bench \
  --seuiller build-bench/tools/seuiller "$@"
