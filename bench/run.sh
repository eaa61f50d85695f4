#!/usr/bin/env bash
# bench/run.sh [--quick] [--greymap-only | --batch-only | --baseline-only]: builds test_grey,
# seuiller, the copy floor and the loop microbenchmark in release mode (in build-bench/), and
# test_grey as it was in the previous release (BASELINE_REV, in build-bench/baseline/), then writes
# a Markdown report into bench/README.md, in three parts: the loop against memcpy, test_grey
# against dd, the copy floor, seuiller and every image tool installed here, peak memory and the
# scaling curve; seuiller on a thousand files against test_grey under xargs, GraphicsMagick and
# the copy floor; and this build against the previous release.
#
# Set-up, once (Google Benchmark builds the loop microbenchmark; the tools are peers to compare
# with, not dependencies):
#   apt-get install -y libbenchmark-dev libvips-tools graphicsmagick imagemagick netpbm python3-pil time
# The generated inputs (2.6 GiB in /dev/shm) are removed at the end; --keep keeps them.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/build.sh
release_build -DIMAGEFILES_BUILD_BENCHMARKS=ON test_grey seuiller binarise_bench copy_floor
# The previous release, 1.0.0: the commit it was cut from.
baseline_rev=${BASELINE_REV:-65da749}
baseline=build-bench/baseline
revision_build "$baseline_rev" "$baseline" test_grey
python3 bench/run.py --test-grey build-bench/tools/test_grey \
  --microbenchmark build-bench/bench/binarise_bench \
  --seuiller build-bench/tools/seuiller --copy-floor build-bench/bench/copy_floor \
  --baseline "$baseline/build/tools/test_grey" --baseline-name "1.0.0 ($baseline_rev)" "$@"
