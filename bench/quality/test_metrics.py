#!/usr/bin/env python3
"""The quality measures on cases whose answer is known, and the generator's pages against the
seed that made them (so that the benchmark's pages do not drift). Run by the test suite."""

import hashlib
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
    from PIL import ImageFont
    ImageFont.truetype(os.path.join(pages.FONTS, pages.FACES[0]), 12)
except (ImportError, OSError) as missing:
    # Skipped (status 77) where numpy, Pillow or the DejaVu fonts are missing; CI installs them.
    if os.environ.get("CI"):
        raise
    print(f"skipped: {missing} (apt-get install -y python3-numpy python3-pil fonts-dejavu-core fonts-dejavu-extra)")
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

    # The drawn kinds' first page at scale 1 and 2, as their seeds made them (the same rendering
    # libraries as above).
    DRAWN = {
        ("handwriting", 1): "86528b0f584f49dbf0e88f9be1e8011440959bac9d2b381c4280a749c890f5ab",
        ("handwriting", 2): "a24e07b43a445aa49815e285cf826048231398b093af4fe51f7b88a1fa43f7c6",
        ("thick", 1): "32439b83d386e3db0295e916066081535cd2e13fdcdfbee82e32ed0cddeb09cb",
        ("thick", 2): "e170d870e06ef3768c7c3628d8b2e63d35701847db04e59785c768ca73b69d8c",
    }

    def test_drawn_pages_are_what_their_seeds_made(self):
        for (kind, scale), expected in self.DRAWN.items():
            with self.subTest(kind=kind, scale=scale):
                page, truth, text = pages.make_page(kind, 0, scale)
                again = pages.make_page(kind, 0, scale)
                self.assertTrue(np.array_equal(page, again[0]) and np.array_equal(truth, again[1]))
                digest = hashlib.sha256(page.tobytes() + truth.tobytes()).hexdigest()
                self.assertEqual(digest, expected)
                self.assertTrue(text and all(line.strip() for line in text))

    def test_thick_strokes_follow_the_scale(self):
        """The heavy strokes are about 8 pixels at scale 1 (the median run of ink along a row) and
        twice that at scale 2; some ink of the truth is faint (nearer the paper than the ink)."""
        runs = {}
        for scale in (1, 2):
            page, truth, _ = pages.make_page("thick", 0, scale)
            ink = np.pad(truth == 0, ((0, 0), (1, 1)))
            edges = np.diff(ink.astype(np.int8), axis=1)
            lengths = np.nonzero(edges.ravel() == -1)[0] - np.nonzero(edges.ravel() == 1)[0]
            runs[scale] = np.median(lengths)
            dark, light = np.median(page[truth == 0]), np.median(page[truth == 255])
            faint = np.mean(page[truth == 0] > (dark + light) / 2)
            with self.subTest(scale=scale):
                self.assertTrue(0.005 < faint < 0.2, faint)
        self.assertTrue(6 <= runs[1] <= 11, runs)
        self.assertTrue(1.7 <= runs[2] / runs[1] <= 2.3, runs)


class RealPages(unittest.TestCase):
    """The committed ground truths of the real pages: the shape of their photograph, what
    make_truth.py makes, and aligned with the page (a reference method agrees with the truth
    better than with the truth shifted by two pixels)."""

    def test_the_truths_fit_their_pages(self):
        try:
            from skimage.filters import threshold_sauvola
            sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
            from run import read_raster
            truths = os.path.join(os.path.dirname(os.path.abspath(__file__)), "truth")
            sys.path.insert(0, truths)
            import make_truth
        except ImportError as missing:
            self.skipTest(f"{missing}")
        with tempfile.TemporaryDirectory() as work:
            subprocess.run([sys.executable, os.path.join(truths, "make_truth.py"), work],
                           check=True)
            for name in make_truth.PAGES:
                with self.subTest(page=name):
                    committed = os.path.join(truths, name + ".truth.pbm")
                    for suffix in (".truth.pbm", ".halo.pbm"):
                        with open(os.path.join(truths, name + suffix), "rb") as a, \
                                open(os.path.join(work, name + suffix), "rb") as b:
                            self.assertEqual(a.read(), b.read())
                    grey = make_truth.PAGES[name][0]()
                    width, height, raster = read_raster(committed)
                    self.assertEqual((height, width), grey.shape)
                    truth = np.frombuffer(raster, dtype=np.uint8).reshape(height, width)
                    self.assertTrue(0.02 < np.mean(truth == 0) < 0.3)
                    result = np.where(grey > threshold_sauvola(grey, 25, 0.2), 255, 0)
                    aligned = metrics.f_measure(result, truth)
                    shifted = metrics.f_measure(result, np.roll(truth, 2, axis=(0, 1)))
                    self.assertGreater(aligned, 70)
                    self.assertGreater(aligned, shifted + 15)


if __name__ == "__main__":
    unittest.main()
