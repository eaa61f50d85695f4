#!/usr/bin/env python3
"""Test pages for the quality benchmark: text rendered with the DejaVu fonts on an A4 page at
150 dpi, the rendering itself the ground truth, then degraded as scans and phone photos are.

    /usr/bin/python3 bench/quality/pages.py OUTPUT_FOLDER [--pages N]

Writes, for each kind of page and each page number, `<kind>-<n>.pgm` (the degraded greymap),
`<kind>-<n>.truth.pgm` (0 for ink, 255 for paper) and `<kind>-<n>.txt` (the text rendered, for the
OCR's error rate). Seeded: every run makes the same pages. Needs Pillow and numpy (Debian's
python3-pil and python3-numpy) and fonts-dejavu-core.
"""

import argparse
import os

import numpy as np
from PIL import Image, ImageDraw, ImageFilter, ImageFont

WIDTH, HEIGHT = 1240, 1754  # A4 at 150 dpi
FONTS = "/usr/share/fonts/truetype/dejavu"
FACES = ["DejaVuSans.ttf", "DejaVuSerif.ttf", "DejaVuSansMono.ttf", "DejaVuSans-Bold.ttf",
         "DejaVuSerif-Italic.ttf", "DejaVuSansCondensed.ttf"]
KINDS = ["clean", "faint", "contrast", "shadow", "stains", "bleed", "blur", "noise", "all"]
WORDS = ("the of and to in is was that for on with as by at from this which or be are an not his "
         "page ink paper light scan archive letter records binary threshold window image pixel "
         "document history river north quality measure found market council library notes "
         "between under during without against through before after often never always").split()


def text_lines(rng, count):
    lines = []
    for _ in range(count):
        words = [WORDS[i] for i in rng.integers(0, len(WORDS), rng.integers(6, 11))]
        words[0] = words[0].capitalize()
        lines.append(" ".join(words) + rng.choice([".", ",", ";", ":", ""]))
    return lines


def render(rng, width=WIDTH, height=HEIGHT, scale=1.0, faces=None):
    """Black text on white: the ink coverage in 0..1 and the text, line by line. `scale` multiplies
    the letters and the margins (the page keeps its size in pixels: larger letters, fewer lines)."""
    page = Image.new("L", (width, height), 255)
    draw = ImageDraw.Draw(page)
    margin = int(round(80 * scale))
    y, text = margin, []
    while y < height - margin - 40 * scale:
        size = int(round(int(rng.choice([14, 18, 22, 28, 36])) * scale))
        face = (faces or FACES)[rng.integers(0, len(faces or FACES))]
        font = ImageFont.truetype(face if os.path.isabs(face) else os.path.join(FONTS, face), size)
        for line in text_lines(rng, int(rng.integers(2, 6))):
            # Cut the line to the page's width.
            while draw.textlength(line, font=font) > width - 2 * margin and " " in line:
                line = line.rsplit(" ", 1)[0]
            if y + size * 1.5 > height - margin:
                break
            draw.text((margin, y), line, fill=0, font=font)
            text.append(line)
            y += int(size * 1.45)
        y += size
    coverage = 1 - np.asarray(page, dtype=np.float64) / 255
    return coverage, text


def smooth_field(rng, height, width, scale):
    """A smooth random field in 0..1, varying over about `scale` pixels."""
    small = rng.random((max(2, height // scale), max(2, width // scale)))
    field = Image.fromarray((small * 255).astype(np.uint8)).resize((width, height), Image.BICUBIC)
    return np.asarray(field, dtype=np.float64) / 255


def degrade(kind, coverage, rng, scale=1.0):
    """The greymap of a page of `kind` from its ink coverage: ink on paper (with the back's text
    showing through), then lit (shadows and stains darken ink and paper alike), blurred, noisy."""
    h, w = coverage.shape
    both = kind == "all"
    ink, paper = 20.0, 235.0
    if kind == "faint" or both:
        ink = 150.0 if not both else 120.0  # faded ink
    if kind == "contrast":
        ink, paper = 120.0, 170.0
    paper_field = np.full((h, w), paper)
    if kind == "bleed" or both:
        back, _ = render(np.random.default_rng(rng.integers(1 << 30)), scale=scale)
        back = np.fliplr(back)
        back = np.asarray(Image.fromarray((back * 255).astype(np.uint8)).filter(
            ImageFilter.GaussianBlur(1.5 * scale)), dtype=np.float64) / 255
        paper_field = paper_field - (60 if not both else 45) * back
    picture = paper_field * (1 - coverage) + ink * coverage
    light = np.ones((h, w))
    if kind == "shadow" or both:
        y, x = np.mgrid[0:h, 0:w]
        light = 1 - 0.45 * (x / w) * (y / h) - 0.2 * (y / h)
        corner = np.exp(-(((x - w) / (0.35 * w)) ** 2 + ((y - h) / (0.35 * h)) ** 2))
        light = np.clip(light - 0.35 * corner, 0.3, 1)
    if kind == "stains" or both:
        y, x = np.ogrid[0:h, 0:w]
        for _ in range(int(rng.integers(4, 8))):
            cy, cx, r = rng.integers(0, h), rng.integers(0, w), rng.integers(60, 220) * scale
            blot = np.exp(-(((y - cy) ** 2 + (x - cx) ** 2) / (2.0 * r * r)) ** 2)
            light = light * (1 - 0.35 * blot * rng.uniform(0.6, 1))
    picture = picture * light
    if kind == "blur" or both:
        picture = np.asarray(Image.fromarray(np.clip(picture, 0, 255).astype(np.uint8)).filter(
            ImageFilter.GaussianBlur((1.2 if not both else 0.8) * scale)), dtype=np.float64)
    if kind == "noise" or both:
        picture = picture + rng.normal(0, 18 if not both else 10, (h, w))
    return np.clip(np.rint(picture), 0, 255).astype(np.uint8)


def write_pgm(path, pixels):
    with open(path, "wb") as out:
        out.write(b"P5\n%d %d\n255\n" % (pixels.shape[1], pixels.shape[0]))
        out.write(pixels.tobytes())


def make_page(kind, number, scale=1.0):
    """The degraded page, its ground truth (0 ink, 255 paper) and its text; `scale` multiplies the
    letters and the sizes of the degradations (blur, stains, show-through), not the page."""
    seed = KINDS.index(kind) * 1000 + number
    rng = np.random.default_rng(seed)
    coverage, text = render(rng, scale=scale)
    truth = np.where(coverage >= 0.5, 0, 255).astype(np.uint8)
    return degrade(kind, coverage, rng, scale), truth, text


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("folder")
    parser.add_argument("--pages", type=int, default=4)
    parser.add_argument("--kind", choices=KINDS, help="only this kind of page")
    parser.add_argument("--scale", type=float, default=1.0, help="letters' size, 1 today's")
    args = parser.parse_args()
    os.makedirs(args.folder, exist_ok=True)
    for kind in [args.kind] if args.kind else KINDS:
        for number in range(args.pages):
            page, truth, text = make_page(kind, number, args.scale)
            suffix = "" if args.scale == 1 else f"-x{args.scale:g}"
            stem = os.path.join(args.folder, f"{kind}{suffix}-{number}")
            write_pgm(stem + ".pgm", page)
            write_pgm(stem + ".truth.pgm", truth)
            with open(stem + ".txt", "w") as out:
                out.write("\n".join(text) + "\n")


if __name__ == "__main__":
    main()
