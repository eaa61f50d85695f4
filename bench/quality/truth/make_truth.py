#!/usr/bin/env python3
"""The pixel ground truths of the real pages, made once and committed (PBM, black for ink):

    /usr/bin/python3 bench/quality/truth/make_truth.py [OUTPUT_FOLDER] [--png FOLDER]

Semi-automatic: the paper estimated by a wide median (through the writing), the page divided by
it, ink where the ratio falls below a conservative level, grown by hysteresis into the strokes'
edges down to a laxer one, specks removed; then the corrections by hand below, found by looking at
the page and its truth side by side (`--png` writes them, enlarged). Needs scikit-image and scipy.
"""

import argparse
import os

import numpy as np
from scipy.ndimage import median_filter
from skimage import data, morphology
from skimage.filters import apply_hysteresis_threshold

# name: (the image, the median's side, strong and lax ratio to the paper, smallest speck kept,
#        corrections as (top, bottom, left, right, value): value 0 makes the box paper)
PAGES = {
    "page": (data.page, 31, 0.62, 0.80, 2, []),
    "text": (data.text, 21, 0.72, 0.86, 12,
             # Smudges of the paper, darker than the median around them, above the ruled lines.
             [(8, 22, 345, 390, 0), (22, 36, 400, 435, 0), (18, 28, 218, 240, 0)]),
}


def truth_of(name):
    """The ground truth of a real page: True for ink."""
    image, side, strong, lax, speck, boxes = PAGES[name]
    grey = image().astype(np.float64)
    paper = median_filter(grey, size=side, mode="reflect")
    ratio = grey / np.maximum(paper, 1)
    ink = apply_hysteresis_threshold(1 - ratio, 1 - lax, 1 - strong)
    ink = morphology.remove_small_objects(ink, speck)
    for top, bottom, left, right, value in boxes:
        ink[top:bottom, left:right] = bool(value) & ink[top:bottom, left:right]
    return ink


def write_pbm(path, ink):
    with open(path, "wb") as out:
        out.write(b"P4\n%d %d\n" % (ink.shape[1], ink.shape[0]))
        out.write(np.packbits(ink, axis=1).tobytes())


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("folder", nargs="?", default=os.path.dirname(os.path.abspath(__file__)))
    parser.add_argument("--png", help="also the page and its truth side by side, enlarged, here")
    args = parser.parse_args()
    for name in PAGES:
        ink = truth_of(name)
        write_pbm(os.path.join(args.folder, name + ".truth.pbm"), ink)
        if args.png:
            from PIL import Image
            os.makedirs(args.png, exist_ok=True)
            grey = PAGES[name][0]()
            both = np.concatenate([grey, np.where(ink, 0, 255).astype(np.uint8)], axis=0)
            Image.fromarray(both).resize((both.shape[1] * 2, both.shape[0] * 2),
                                         Image.NEAREST).save(os.path.join(args.png, name + ".png"))


if __name__ == "__main__":
    main()
