#!/usr/bin/env python3
"""auto at three scales: the same kind of page (uneven light, stains) drawn with letters 1, 2 and
4 times today's size, binarised by `seuiller auto` and measured by `evaluer` against the page's
ground truth: the F-measures within 1 point of each other, each above 99. Run by the test suite
as `test_scale.py SEUILLER EVALUER`."""

import os
import subprocess
import sys
import tempfile
import unittest

try:
    import numpy as np  # noqa: F401  (pages.py's)

    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    import pages  # noqa: E402
except ImportError as missing:
    if os.environ.get("CI"):
        raise
    print(f"skipped: {missing} (apt-get install -y python3-numpy python3-pil)")
    sys.exit(77)

if not os.path.isdir(pages.FONTS):
    if os.environ.get("CI"):
        sys.exit("fonts-dejavu-core is missing")
    print("skipped: fonts-dejavu-core is missing")
    sys.exit(77)

SEUILLER, EVALUER = (sys.argv.pop(1), sys.argv.pop(1)) if len(sys.argv) > 2 else ("seuiller",
                                                                                    "evaluer")


def f_measure(kind, scale, work):
    page, truth, _ = pages.make_page(kind, 0, scale)
    stem = os.path.join(work, f"{kind}-x{scale:g}")
    pages.write_pgm(stem + ".pgm", page)
    pages.write_pgm(stem + ".truth.pgm", truth)
    out = os.path.join(work, "out")
    subprocess.run([SEUILLER, "-q", "auto", out, stem + ".pgm"], check=True)
    printed = subprocess.run([EVALUER, stem + ".truth.pgm",
                              os.path.join(out, os.path.basename(stem) + ".pgm")],
                             capture_output=True, text=True, check=True).stdout
    return dict(line.split() for line in printed.splitlines())["f_mesure"]


class Scale(unittest.TestCase):
    def test_the_same_page_at_three_scales(self):
        with tempfile.TemporaryDirectory() as work:
            for kind in ("shadow", "stains"):
                with self.subTest(kind=kind):
                    f = [float(f_measure(kind, scale, work)) for scale in (1, 2, 4)]
                    self.assertLessEqual(max(f) - min(f), 1.0, f)
                    self.assertGreater(min(f), 99.0, f)


if __name__ == "__main__":
    unittest.main()
