#!/usr/bin/env bash
# bench/quality/pictures.sh TOOLS_DIR OUTPUT_DIR: the pictures of the README and docs/design.md:
# a degraded page (the lower part of the first "shadow" page of the quality benchmark, where the
# dark corner is) and what test_grey at 128, Otsu, Sauvola and auto make of it, as PNG (netpbm's
# pnmtopng).
set -euo pipefail
tools=$(cd "$1" && pwd)
out=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 "$here/pages.py" "$work/pages" --kind shadow --pages 1
pamcut -left 40 -top 1180 -width 640 -height 420 "$work/pages/shadow-0.pgm" > "$work/page.pgm"
"$tools/test_grey" "$work/page.pgm" "$work/test_grey-128.pgm" 128 >/dev/null || true
for method in otsu sauvola auto; do
  "$tools/seuiller" -q "$method" "$work/$method" "$work/page.pgm"
done
mkdir -p "$out"
pnmtopng "$work/page.pgm" > "$out/page-shadow.png"
pnmtopng "$work/test_grey-128.pgm" > "$out/page-shadow-128.png"
for method in otsu sauvola auto; do
  pnmtopng "$work/$method/page.pgm" > "$out/page-shadow-$method.png"
done
