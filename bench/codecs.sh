#!/usr/bin/env bash
# bench/codecs.sh [--pages N] [--runs N]: builds seuiller and read_bench in release mode (in
# build-bench/), then runs bench/codecs.py, which writes its section of bench/README.md: a batch of
# A4 PNG scans to 1-bit PNG beside libvips and ImageMagick, and a 48 MP TIFF read beside libvips.
# Its files (about 200 MB) are made in build-bench/codecs and removed at the end.
#
# Set-up, once: apt-get install -y libbenchmark-dev libvips-tools imagemagick python3-pil
#   python3-numpy
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/build.sh
release_build -DIMAGEFILES_BUILD_BENCHMARKS=ON seuiller read_bench
/usr/bin/python3 bench/codecs.py --seuiller build-bench/tools/seuiller \
  --read-bench build-bench/bench/read_bench --work build-bench/codecs "$@"
