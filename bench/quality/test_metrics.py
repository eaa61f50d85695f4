#!/usr/bin/env python3
"""The quality measures on cases whose answer is known, and the generator's pages against the
seed that made them (so that the benchmark's pages do not drift). Run by the test suite."""

import hashlib
import os
import sys
import unittest

try:
    import numpy as np

    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    import metrics  # noqa: E402
    import pages  # noqa: E402
    from PIL import ImageFont
    ImageFont.truetype(os.path.join(pages.FONTS, pages.FACES[0]), 12)
except (ImportError, OSError) as missing:
    # Skipped (status 77) where numpy, Pillow or the DejaVu fonts are missing; CI installs them.
    if os.environ.get("CI"):
        raise
    print(f"skipped: {missing} (apt-get install -y python3-numpy python3-pil fonts-dejavu-core)")
    sys.exit(77)


class Measures(unittest.TestCase):
    def setUp(self):
        self.truth = np.full((16, 16), 255, dtype=np.uint8)
        self.truth[4:12, 6:9] = 0  # a stroke of 24 ink pixels

    def test_known_answers(self):
        blank = np.full_like(self.truth, 255)
        off = self.truth.copy()
        off[0, 0] = 0  # one pixel of ink too many, far from the stroke
        cases = [  # result, F-measure, PSNR, DRD
            (self.truth, 100.0, float("inf"), 0.0),
            (blank, 0.0, 10 * np.log10(256 / 24), None),
            (off, 200 * (24 / 25) / (1 + 24 / 25), 10 * np.log10(256), None),
        ]
        for result, f, p, d in cases:
            self.assertAlmostEqual(metrics.f_measure(result, self.truth), f, places=9)
            self.assertAlmostEqual(metrics.psnr(result, self.truth), p, places=9)
            if d is not None:
                self.assertAlmostEqual(metrics.drd(result, self.truth), d, places=9)
        # One pixel off, with only paper around it: a distortion of 1 (the weights sum to 1), over
        # the 4 blocks of 8 x 8 that hold both ink and paper.
        self.assertAlmostEqual(metrics.drd(off, self.truth), 1 / 4, places=9)

    def test_character_error_rate(self):
        self.assertEqual(metrics.character_error_rate("the page", "the  page\n"), 0.0)
        self.assertAlmostEqual(metrics.character_error_rate("the pege", "the page"), 100 / 8)
        self.assertAlmostEqual(metrics.character_error_rate("", "abcd"), 100.0)


class Generator(unittest.TestCase):
    # What the seed made when the benchmark's report was taken (Pillow 9.4, FreeType 2.12, DejaVu
    # 2.37): another rendering library may draw glyphs a pixel apart, and the page then differs.
    EXPECTED = "de2f33fb2b83abb880e068f0d5b63cc77e6e7e955bdadc3878a4221ebc59017a"

    def test_a_page_is_what_its_seed_made(self):
        page, truth, text = pages.make_page("all", 0)
        first, again = hashlib.sha256(page.tobytes() + truth.tobytes()).hexdigest(), \
            hashlib.sha256(pages.make_page("all", 0)[0].tobytes() + truth.tobytes()).hexdigest()
        self.assertEqual(first, again)  # the same seed, the same page
        self.assertEqual(first, self.EXPECTED)
        self.assertTrue(text and all(line.strip() for line in text))


if __name__ == "__main__":
    unittest.main()
