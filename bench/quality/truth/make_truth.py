#!/usr/bin/env python3
"""The pixel ground truths of the real pages, made once and committed (PBM, black for ink):

    /usr/bin/python3 bench/quality/truth/make_truth.py [OUTPUT_FOLDER] [--png FOLDER]

Semi-automatic, in two steps. Which marks are ink: the paper estimated by a wide median (through
the writing), the page divided by it, ink where the ratio falls below a conservative level, grown
by hysteresis down to a laxer one, specks removed, then the corrections by hand below, found by
looking at the page and its truth side by side (`--png` writes them, enlarged). Where each mark
ends: at its edge, where the grey is halfway between the paper and the mark's darkest level near
by. That is where a blurred edge of a stroke lies, and where the generated pages' truths put it
(a pixel at least half covered); the laxer level alone would count the stroke's blurred halo as
ink, and favour the methods whose threshold sits at that fraction of the paper. The marks with
their halo are written too (NAME.halo.pbm), for comparison. Needs scikit-image and scipy.
"""

import argparse
import os

import numpy as np
from scipy.ndimage import grey_erosion, median_filter
from skimage import data, morphology
from skimage.filters import apply_hysteresis_threshold, threshold_otsu

HERE = os.path.dirname(os.path.abspath(__file__))


def sudoku():
    """A phone's photograph of a newspaper's puzzle page, in grey (Pillow's luma)."""
    from PIL import Image
    return np.asarray(Image.open(os.path.join(HERE, "sudoku.png")).convert("L"))


# Boxes corrected by hand, as (top, bottom, left, right, what): PAPER makes the box paper; SOLID
# is for printed areas wider than the median's side (white letters on black), where the paper's
# estimate fails: ink there is what is darker than the box's own Otsu level.
PAPER, SOLID = "paper", "solid"

# name: (the image, the median's side, strong and lax ratio to the paper, smallest speck kept,
#        corrections)
PAGES = {
    "page": (data.page, 31, 0.62, 0.80, 2, []),
    "text": (data.text, 21, 0.72, 0.86, 12,
             # Smudges of the paper, darker than the median around them, above the ruled lines.
             [(8, 22, 345, 390, PAPER), (22, 36, 400, 435, PAPER), (18, 28, 218, 240, PAPER)]),
    # Kept out of every choice made in the methods: judged, never tuned on.
    "sudoku": (sudoku, 41, 0.66, 0.86, 8,
               # The title's black label and a black square of the strip at the bottom.
               [(47, 86, 62, 185, SOLID), (539, 563, 272, 321, SOLID)]),
}


def corrected(ink, grey, boxes, kinds):
    for top, bottom, left, right, what in boxes:
        if what not in kinds:
            continue
        box = grey[top:bottom, left:right]
        ink[top:bottom, left:right] = (box <= threshold_otsu(box) if what == SOLID
                                       else np.zeros(box.shape, bool))
    return ink


# Side of the square in which a mark's darkest level is looked for: wider than its strokes.
DARKEST_SIDE = 5


def marks_of(name):
    """The ink marks of a real page with their halo, and the page's paper: True for ink."""
    image, side, strong, lax, speck, boxes = PAGES[name]
    grey = image().astype(np.float64)
    paper = median_filter(grey, size=side, mode="reflect")
    ratio = grey / np.maximum(paper, 1)
    ink = apply_hysteresis_threshold(1 - ratio, 1 - lax, 1 - strong)
    ink = morphology.remove_small_objects(ink, speck)
    return corrected(ink, grey, boxes, (PAPER, SOLID)), grey, paper


def truth_of(name):
    """The ground truth of a real page: each mark up to its edge; True for ink."""
    marks, grey, paper = marks_of(name)
    darkest = grey_erosion(np.where(marks, grey, 255.0), size=DARKEST_SIDE)
    # The marks' skeletons too, as the contests' truths start from: a stroke fainter than a
    # darker one near by keeps its middle, and no stroke is cut.
    edges = (marks & (grey <= (paper + darkest) / 2)) | morphology.skeletonize(marks)
    return corrected(edges, grey, PAGES[name][5], (SOLID,))


def write_pbm(path, ink):
    with open(path, "wb") as out:
        out.write(b"P4\n%d %d\n" % (ink.shape[1], ink.shape[0]))
        out.write(np.packbits(ink, axis=1).tobytes())


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("folder", nargs="?", default=os.path.dirname(os.path.abspath(__file__)))
    parser.add_argument("--png", help="also the page and its truth side by side, enlarged, here")
    args = parser.parse_args()
    os.makedirs(args.folder, exist_ok=True)
    for name in PAGES:
        ink = truth_of(name)
        write_pbm(os.path.join(args.folder, name + ".truth.pbm"), ink)
        write_pbm(os.path.join(args.folder, name + ".halo.pbm"), marks_of(name)[0])
        if args.png:
            from PIL import Image
            os.makedirs(args.png, exist_ok=True)
            grey = PAGES[name][0]()
            both = np.concatenate([grey, np.where(ink, 0, 255).astype(np.uint8)], axis=0)
            Image.fromarray(both).resize((both.shape[1] * 2, both.shape[0] * 2),
                                         Image.NEAREST).save(os.path.join(args.png, name + ".png"))


if __name__ == "__main__":
    main()
