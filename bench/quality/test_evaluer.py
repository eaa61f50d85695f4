#!/usr/bin/env python3
"""The library's measures (the evaluer command) against the benchmark's (metrics.py), on three
results of two generated pages and of a real page, and with ground truths in PNG and TIFF made by
Pillow: every measure within 1e-6. Run by the test suite as `test_evaluer.py EVALUER`."""

import math
import os
import subprocess
import sys
import tempfile
import unittest

try:
    import numpy as np

    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    import metrics  # noqa: E402
    import pages  # noqa: E402
    from skimage import data  # noqa: F401  (the skeleton, and a real page)
    from skimage.filters import threshold_otsu, threshold_sauvola
except ImportError as missing:
    if os.environ.get("CI"):
        raise
    print(f"skipped: {missing} (apt-get install -y python3-numpy python3-pil python3-skimage)")
    sys.exit(77)

EVALUER = sys.argv.pop(1) if len(sys.argv) > 1 else "evaluer"


def measured(truth, result, work, truth_file=None):
    """What evaluer prints for a truth and a result, by name; the truth as the file `truth_file`
    when given, else as a greymap."""
    paths = []
    for name, image in (("truth", truth), ("result", result)):
        paths.append(os.path.join(work, name + ".pgm"))
        pages.write_pgm(paths[-1], image)
    if truth_file:
        paths[0] = truth_file
    out = subprocess.run([EVALUER] + paths, capture_output=True, text=True, check=True).stdout
    return {name: float(value) for name, value in (line.split() for line in out.splitlines())}


class Agreement(unittest.TestCase):
    def test_the_measures_agree(self):
        page, truth, _ = pages.make_page("all", 0)
        cases = [("all-0", page, truth)]
        page, truth, _ = pages.make_page("noise", 1)
        cases.append(("noise-1", page, truth))
        # The real page, against what Otsu makes of it (a stand-in truth for the agreement only).
        real = data.page()
        cases.append(("page", real, np.where(real > threshold_otsu(real), 255, 0).astype(np.uint8)))
        python = {"f_mesure": metrics.f_measure, "pseudo_f_mesure": metrics.pseudo_f_measure,
                  "psnr": metrics.psnr, "drd": metrics.drd, "nrm": metrics.nrm, "mcc": metrics.mcc}
        with tempfile.TemporaryDirectory() as work:
            for name, page, truth in cases:
                results = {
                    "128": np.where(page >= 128, 255, 0),
                    "sauvola": np.where(page > threshold_sauvola(page, 15, 0.2), 255, 0),
                    "truth": truth,
                }
                for method, result in results.items():
                    result = result.astype(np.uint8)
                    ours = measured(truth, result, work)
                    for measure, function in python.items():
                        with self.subTest(page=name, result=method, measure=measure):
                            theirs = function(result, truth)
                            if math.isinf(theirs):
                                self.assertEqual(ours[measure], theirs)
                            else:
                                self.assertAlmostEqual(ours[measure], theirs, delta=1e-6)

    def test_truths_in_png_and_tiff(self):
        from PIL import Image

        page, truth, _ = pages.make_page("all", 2)
        result = np.where(page >= 128, 255, 0).astype(np.uint8)
        with tempfile.TemporaryDirectory() as work:
            for name, mode, options in (("truth.png", "L", {}), ("truth.png", "1", {}),
                                        ("truth.tif", "1", {"compression": "group4"}),
                                        ("truth.tif", "L", {"compression": "tiff_lzw"})):
                path = os.path.join(work, name)
                Image.fromarray(truth).convert(mode).save(path, **options)
                ours = measured(truth, result, work, path)
                for measure, function in (("f_mesure", metrics.f_measure), ("drd", metrics.drd),
                                          ("mcc", metrics.mcc)):
                    with self.subTest(truth=name, mode=mode, measure=measure):
                        self.assertAlmostEqual(ours[measure], function(result, truth), delta=1e-6)


if __name__ == "__main__":
    unittest.main()
