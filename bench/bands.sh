#!/usr/bin/env bash
# bench/bands.sh [--side N] [--runs N]: builds seuiller in release mode (in build-bench/), and the
# whole-raster seuiller of the last release before bands (BANDS_BASELINE_REV, in
# build-bench/whole/), then runs bench/bands.py, which writes its section of bench/README.md: peak
# memory of every method on a 60,000 x 60,000 greymap on disk (3.6 GB, made and removed by the
# script: check `df -h` first) and on a 1 x 50,000,000 one, throughput beside libvips, and 48 MP
# runs, bitmap against greymap and streamed against whole raster.
#
# Set-up, once: apt-get install -y time libvips-tools
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DIMAGEFILES_BUILD_TESTS=OFF \
  -DIMAGEFILES_BUILD_EXAMPLES=OFF >/dev/null
cmake --build build-bench -j2 --target seuiller >/dev/null
baseline_rev=${BANDS_BASELINE_REV:-24051c5}
whole=build-bench/whole
if [ ! -x "$whole/build/tools/seuiller" ]; then
  rm -rf "$whole" && mkdir -p "$whole/src"
  git archive "$baseline_rev" | tar -x -C "$whole/src"
  cmake -S "$whole/src" -B "$whole/build" -DCMAKE_BUILD_TYPE=Release \
    -DIMAGEFILES_BUILD_TESTS=OFF -DIMAGEFILES_BUILD_EXAMPLES=OFF >/dev/null
  cmake --build "$whole/build" -j2 --target seuiller >/dev/null
fi
/usr/bin/python3 bench/bands.py --seuiller build-bench/tools/seuiller \
  --whole "$whole/build/tools/seuiller" --disk build-bench/bands "$@"
