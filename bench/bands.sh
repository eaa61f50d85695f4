#!/usr/bin/env bash
# bench/bands.sh [--side N] [--format-side N] [--runs N]: builds seuiller in release mode (in build-bench/), and the
# whole-raster seuiller of the last release before bands (BANDS_BASELINE_REV, in
# build-bench/whole/), then runs bench/bands.py, which writes its section of bench/README.md: peak
# memory of every method on a 60,000 x 60,000 greymap on disk (3.6 GB, made and removed by the
# script: check `df -h` first) and on a 1 x 50,000,000 one, throughput beside libvips, and 48 MP
# runs, bitmap against greymap and streamed against whole raster; PNG and TIFF pages of
# --format-side (20,000) a side, their peak memory and time, beside the seuiller that read them
# whole (FORMATS_BASELINE_REV, in build-bench/formats-whole/).
#
# Set-up, once: apt-get install -y time libvips-tools
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/build.sh
release_build seuiller
baseline_rev=${BANDS_BASELINE_REV:-24051c5}
whole=build-bench/whole
revision_build "$baseline_rev" "$whole" seuiller
# The last seuiller that read PNG and TIFF whole (FORMATS_BASELINE_REV).
formats_rev=${FORMATS_BASELINE_REV:-f7e436e}
formats_whole=build-bench/formats-whole
revision_build "$formats_rev" "$formats_whole" seuiller
/usr/bin/python3 bench/bands.py --seuiller build-bench/tools/seuiller \
  --whole "$whole/build/tools/seuiller" --whole-formats "$formats_whole/build/tools/seuiller" \
  --disk build-bench/bands "$@"
