#!/usr/bin/env bash
# bench/run.sh [--quick]: builds test_grey and the loop microbenchmark in release mode (in
# build-bench/), then prints a Markdown report: the loop against memcpy, test_grey against the
# dd floor and against every image tool installed here, peak memory, and the scaling curve.
#
# Set-up, once (the tools are peers to compare with, not dependencies):
#   apt-get install -y libvips-tools graphicsmagick imagemagick netpbm python3-pil time
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DIMAGEFILES_BUILD_BENCHMARKS=ON \
  -DIMAGEFILES_BUILD_TESTS=OFF -DIMAGEFILES_BUILD_EXAMPLES=OFF >/dev/null
cmake --build build-bench -j2 --target test_grey binarise_bench >/dev/null
python3 bench/run.py --test-grey build-bench/tools/test_grey \
  --microbenchmark build-bench/bench/binarise_bench "$@"
