#!/usr/bin/env python3
"""Test pages for the quality benchmark: text rendered with the DejaVu fonts on an A4 page at
150 dpi, the rendering itself the ground truth, then degraded as scans and phone photos are.

    /usr/bin/python3 bench/quality/pages.py OUTPUT_FOLDER [--pages N]

Writes, for each kind of page and each page number, `<kind>-<n>.pgm` (the degraded greymap),
`<kind>-<n>.truth.pgm` (0 for ink, 255 for paper) and `<kind>-<n>.txt` (the text rendered, for the
OCR's error rate). Seeded: every run makes the same pages. With `--held-out N`, the held-out
pages instead (`held-<kind>-<n>-x<scale>`): N of each kind on seeds of their own, at scales that
vary with the kind, never used to tune a method, reported apart. Needs Pillow and numpy (Debian's
python3-pil and python3-numpy) and fonts-dejavu-core and fonts-dejavu-extra.
"""

import argparse
import os

import numpy as np
from PIL import Image, ImageDraw, ImageFilter, ImageFont

WIDTH, HEIGHT = 1240, 1754  # A4 at 150 dpi
FONTS = "/usr/share/fonts/truetype/dejavu"
FACES = ["DejaVuSans.ttf", "DejaVuSerif.ttf", "DejaVuSansMono.ttf", "DejaVuSans-Bold.ttf",
         "DejaVuSerif-Italic.ttf", "DejaVuSansCondensed.ttf"]
# New kinds go last: a page's seed follows its kind's place in this list.
KINDS = ["clean", "faint", "contrast", "shadow", "stains", "bleed", "blur", "noise", "all",
         "handwriting", "thick", "forms"]
SCALES = [0.6, 1, 2, 4]
HAND_FACES = ["DejaVuSerif-Italic.ttf", "DejaVuSans-Oblique.ttf", "DejaVuSerifCondensed-Italic.ttf",
              "DejaVuSansCondensed-Oblique.ttf"]
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
        back, _ = render(np.random.default_rng(rng.integers(1 << 30)), w, h, scale=scale)
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


def _paste(layer, tile, x, y):
    """The brighter of `layer` and `tile` (ink amounts) with `tile`'s corner at (x, y), clipped."""
    h, w = layer.shape
    x0, y0, x1, y1 = max(x, 0), max(y, 0), min(x + tile.shape[1], w), min(y + tile.shape[0], h)
    if x0 < x1 and y0 < y1:
        part = tile[y0 - y:y1 - y, x0 - x:x1 - x]
        layer[y0:y1, x0:x1] = np.maximum(layer[y0:y1, x0:x1], part)


def render_hand(rng, scale=1.0, width=WIDTH, height=HEIGHT):
    """Handwriting-like lines: each word in an oblique face with its own size, slant, tilt, pen
    width and height above a wandering baseline, some joined to the next by a curved stroke. The
    ink coverage in 0..1 and the text. Draws as many random values at every scale."""
    layer = np.zeros((height, width), dtype=np.uint8)
    draw_joins = Image.new("L", (width, height), 0)
    joins = ImageDraw.Draw(draw_joins)
    margin = int(round(90 * scale))
    y, text = margin, []
    while y < height - margin - 60 * scale:
        size = float(rng.choice([24, 30, 36])) * scale
        face = os.path.join(FONTS, HAND_FACES[rng.integers(0, len(HAND_FACES))])
        drift = 0.0
        for line in text_lines(rng, int(rng.integers(2, 5))):
            if y + size * 1.8 > height - margin:
                break
            x, kept, last = margin + int(rng.integers(0, 30) * scale), [], None
            for word in line.split():
                s, pen = rng.uniform(0.85, 1.15), rng.choice([0, 0.5, 1])
                shear, tilt = rng.uniform(-0.1, 0.3), rng.uniform(-3, 3)
                drift += rng.normal(0, 0.6)
                join = rng.random() < 0.3
                font = ImageFont.truetype(face, max(6, int(round(size * s))))
                stroke = int(round(pen * scale))
                left, top, right, bottom = font.getbbox(word, stroke_width=stroke)
                pad = int(size)
                tile = Image.new("L", (right + 2 * pad, bottom + 2 * pad), 0)
                ImageDraw.Draw(tile).text((pad, pad), word, fill=255, font=font,
                                          stroke_width=stroke, stroke_fill=255)
                # The slant of the hand, then the tilt of the word.
                tile = tile.transform(tile.size, Image.AFFINE,
                                      (1, shear, -shear * tile.height / 2, 0, 1, 0),
                                      resample=Image.BILINEAR)
                tile = tile.rotate(tilt, resample=Image.BILINEAR)
                top_y = int(round(y + drift * scale)) - pad
                if x + right - left > width - margin:
                    break
                _paste(layer, np.asarray(tile), x - pad - left, top_y)
                base = top_y + pad + int(size * s * 0.8)
                if last is not None:
                    # A curved stroke from the end of the last word to this one, at the baseline.
                    (x0, y0), x1 = last, x - left
                    t = np.linspace(0, 1, 12)[:, None]
                    middle = [(x0 + x1) / 2, y0 + size * 0.25]
                    points = (1 - t) ** 2 * [x0, y0] + 2 * t * (1 - t) * middle + t * t * [x1, base]
                    joins.line([tuple(p) for p in points], fill=255,
                               width=max(1, int(round((1 + pen) * scale))))
                last = (x + right - left, base) if join else None
                kept.append(word)
                x += right - left + int(size * rng.uniform(0.3, 0.6))
            if kept:
                text.append(" ".join(kept))
            y += int(size * 1.7)
        y += int(size * 0.8)
    coverage = np.maximum(layer, np.asarray(draw_joins)).astype(np.float64) / 255
    return coverage, text


def render_thick(rng, scale=1.0, width=WIDTH, height=HEIGHT):
    """Heavy letters (strokes about 8 pixels, capitals about 40 pixels tall at scale 1) and the thin
    strokes a broad pen leaves beside them: crossbars and hairlines about 2 pixels wide across
    the words, as a layer of their own. The two coverages in 0..1 and the text."""
    page, hair = Image.new("L", (width, height), 0), Image.new("L", (width, height), 0)
    draw, thin = ImageDraw.Draw(page), ImageDraw.Draw(hair)
    size = int(round(55 * scale))
    font = ImageFont.truetype(os.path.join(FONTS, "DejaVuSans-Bold.ttf"), size)
    margin = int(round(80 * scale))
    y, text = margin, []
    for line in text_lines(rng, 64):
        words = line.split()
        if y + size * 1.3 > height - margin:
            break
        x, kept = margin, []
        for word in words:
            left, top, right, bottom = font.getbbox(word)
            lines = [(rng.uniform(0, 1), rng.uniform(0, 1), rng.uniform(0.3, 0.7),
                      rng.uniform(-0.15, 0.15)) for _ in range(int(rng.integers(1, 4)))]
            if x + right > width - margin:
                continue
            draw.text((x, y), word, fill=255, font=font)
            for a, b, height_share, slope in lines:
                # A hairline over part of the word at a share of the capitals' height.
                x0, x1 = sorted((x + left + a * (right - left), x + left + b * (right - left)))
                if x1 - x0 < 0.3 * size:
                    x1 = min(x + right, x0 + 0.6 * size)
                y0 = y + top + height_share * (bottom - top)
                thin.line([(x0, y0), (x1, y0 + slope * (x1 - x0))], fill=255,
                          width=max(1, int(round(2 * scale))))
            kept.append(word)
            x += right + int(size * 0.35)
        if kept:
            text.append(" ".join(kept))
        y += int(size * 1.5)
    return (np.asarray(page, dtype=np.float64) / 255, np.asarray(hair, dtype=np.float64) / 255,
            text)


def render_forms(rng, scale=1.0, width=WIDTH, height=HEIGHT):
    """A printed grid photographed: a puzzle's grid (every third or fourth line heavy), a table or
    ledger (heavy frame and header rule, thin row rules, a few columns) or grid paper (every fifth
    line darker), turned by up to a degree as a hand holds a phone, with digits or words in some
    cells. The thin rules are 1 to 2.5 pixels wide at scale 1, each a share of the paper-to-ink
    contrast of its own (0.25 to 0.65: grey print, lighter than the digits); the heavy ones 3 to 4
    pixels at full contrast. Drawn four times finer and averaged, so that a rule of a fraction of
    a pixel's width or off the pixels' grid has the coverage it would have. The coverage of the
    print, that of the thin rules, each thin rule's share, and the text."""
    fine = 4
    heavy = Image.new("L", (width * fine, height * fine), 0)
    light = Image.new("L", (width * fine, height * fine), 0)
    share = Image.new("L", (width * fine, height * fine), 0)
    draws = ImageDraw.Draw(heavy), ImageDraw.Draw(light), ImageDraw.Draw(share)
    layout = ["puzzle", "table", "grid"][int(rng.integers(0, 3))]
    turn = np.radians(rng.uniform(-1, 1))
    cos, sin = np.cos(turn), np.sin(turn)

    def at(x, y):  # the page turned about its centre, in the fine grid
        x, y = x - width / 2, y - height / 2
        return (fine * (width / 2 + cos * x - sin * y), fine * (height / 2 + sin * x + cos * y))

    def rule(x0, y0, x1, y1, dark):
        if dark:
            draws[0].line([at(x0, y0), at(x1, y1)], fill=255,
                          width=int(round(fine * rng.uniform(3, 4) * scale)))
        else:
            w = max(1.0, rng.uniform(1, 2.5) * scale)
            draws[1].line([at(x0, y0), at(x1, y1)], fill=255, width=int(round(fine * w)))
            # Its share, over a band wider than the blur, so that it is known around the rule.
            draws[2].line([at(x0, y0), at(x1, y1)], fill=int(255 * rng.uniform(0.25, 0.65)),
                          width=int(round(fine * (w + 8 * scale))))

    margin = int(round(80 * scale))
    if layout == "puzzle":
        every = int(rng.choice([3, 4]))
        cell = int(round(rng.uniform(40, 60) * scale))
        n = every * max(1, min((width - 2 * margin) // (cell * every),
                               (height - 2 * margin) // (cell * every)))
        left, top = (width - n * cell) // 2, margin
        xs = [left + i * cell for i in range(n + 1)]
        ys = [top + i * cell for i in range(n + 1)]
        darks_x = darks_y = {i for i in range(n + 1) if i % every == 0}
    elif layout == "table":
        cell_h = int(round(rng.uniform(28, 44) * scale))
        widths = rng.uniform(0.6, 1.6, int(rng.integers(3, 7)))
        widths = widths / widths.sum() * (width - 2 * margin)
        xs = [margin] + list(margin + np.cumsum(widths).astype(int))
        ys = list(range(margin, height - margin, cell_h))
        darks_x = {0, len(xs) - 1}
        darks_y = {0, 1, len(ys) - 1}
    else:
        cell = int(round(rng.uniform(18, 30) * scale))
        xs = list(range(margin, width - margin, cell))
        ys = list(range(margin, height - margin, cell))
        darks_x = {i for i in range(len(xs)) if i % 5 == 0} if rng.random() < 0.5 else set()
        darks_y = {i for i in range(len(ys)) if i % 5 == 0} if darks_x else set()
    for i, x in enumerate(xs):
        rule(x, ys[0], x, ys[-1], i in darks_x)
    for i, y in enumerate(ys):
        rule(xs[0], y, xs[-1], y, i in darks_y)
    # Digits or words in some cells, about 0.6 of the cell's height, in black print.
    ink = Image.new("L", (width, height), 0)
    draw, text = ImageDraw.Draw(ink), []
    fill = rng.uniform(0.25, 0.5)
    for r in range(len(ys) - 1):
        line = []
        for c in range(len(xs) - 1):
            cw, ch = xs[c + 1] - xs[c], ys[r + 1] - ys[r]
            if rng.random() > fill or ch < 8:
                continue
            if layout == "table" and cw > 2 * ch:
                words = [WORDS[i] for i in rng.integers(0, len(WORDS), rng.integers(1, 3))]
                word = " ".join(words) if rng.random() < 0.6 else f"{rng.uniform(0, 999):.2f}"
            else:
                word = str(int(rng.integers(1, 10)))
            face = FACES[rng.integers(0, len(FACES))]
            font = ImageFont.truetype(os.path.join(FONTS, face), max(6, int(round(ch * 0.6))))
            while draw.textlength(word, font=font) > cw * 0.9 and " " in word:
                word = word.rsplit(" ", 1)[0]
            if draw.textlength(word, font=font) > cw * 0.9:
                continue
            left_, top_, right_, bottom_ = font.getbbox(word)
            x = xs[c] + (cw - (right_ - left_)) / 2 - left_
            y = ys[r] + (ch - (bottom_ - top_)) / 2 - top_
            tx, ty = at(x, y)
            draw.text((tx / fine, ty / fine), word, fill=255, font=font)
            line.append(word)
        if line:
            text.append(" ".join(line))
    def coarse(layer):  # the mean of each pixel's 4 x 4 fine samples
        return np.asarray(layer.resize((width, height), Image.BOX), dtype=np.float64) / 255

    sharing = np.asarray(share.resize((width, height), Image.NEAREST), dtype=np.float64) / 255
    return np.maximum(coarse(heavy), np.asarray(ink, dtype=np.float64) / 255), coarse(light), \
        sharing, text


def photograph(picture, rng, scale, blur, noise):
    """Uneven light across the page (a photograph), a little blur and sensor noise."""
    h, w = picture.shape
    light = 1 - 0.25 * smooth_field(rng, h, w, 600)
    picture = picture * light
    picture = np.asarray(Image.fromarray(np.clip(picture, 0, 255).astype(np.uint8)).filter(
        ImageFilter.GaussianBlur(blur * scale)), dtype=np.float64)
    picture = picture + rng.normal(0, noise, (h, w))
    return np.clip(np.rint(picture), 0, 255).astype(np.uint8)


def drawn_page(kind, rng, scale, width=WIDTH, height=HEIGHT):
    """A handwriting-like, a thick-stroke or a form's page: its greymap, ground truth and text."""
    h, w = height, width
    paper = 220 + 10 * (smooth_field(rng, h, w, max(2, int(8 * scale))) - 0.5)
    share = rng.uniform(0.65, 0.85)  # drawn first: the same at every scale
    if kind == "handwriting":
        coverage, text = render_hand(rng, scale, w, h)
        # The pen's pressure: the ink's darkness wanders along the strokes.
        ink = 30 + 90 * smooth_field(rng, h, w, max(2, int(40 * scale)))
        picture = paper * (1 - coverage) + ink * coverage
        truth = coverage >= 0.5
        blur, noise = 0.6, 4
    elif kind == "forms":
        print_, rules, shares, text = render_forms(rng, scale, w, h)
        ink = rng.uniform(25, 60)
        faint = paper - shares * (paper - ink)
        picture = paper * (1 - print_) + ink * print_
        picture = np.minimum(picture, paper * (1 - rules) + faint * rules)
        truth = (print_ >= 0.5) | (rules >= 0.5)
        # Light falling off from one side of the page to the other, as under a lamp.
        y, x = np.mgrid[0:h, 0:w]
        a, b = rng.uniform(0.1, 0.3), rng.uniform(0, 0.2)
        picture = picture * (1 - a * (x / w if rng.random() < 0.5 else 1 - x / w) - b * y / h)
        blur, noise = 0.8, 6
    else:
        heavy, hair, text = render_thick(rng, scale, w, h)
        # Hairlines a little more than halfway from the paper to the ink, then blurred fainter.
        faint = paper - share * (paper - 45)
        picture = paper * (1 - heavy) + 45 * heavy
        picture = np.minimum(picture, paper * (1 - hair) + faint * hair)
        truth = (heavy >= 0.5) | (hair >= 0.5)
        blur, noise = 0.7, 5
    picture = photograph(picture, rng, scale, blur, noise)
    return picture, np.where(truth, 0, 255).astype(np.uint8), text


def write_pgm(path, pixels):
    with open(path, "wb") as out:
        out.write(b"P5\n%d %d\n255\n" % (pixels.shape[1], pixels.shape[0]))
        out.write(pixels.tobytes())


def make_page(kind, number, scale=1.0, width=WIDTH, height=HEIGHT):
    """The degraded page, its ground truth (0 ink, 255 paper) and its text; `scale` multiplies the
    letters and the sizes of the degradations (blur, stains, show-through), not the page, whose
    size is `width` x `height` (A4 at 150 dpi unless given: drawn at scale s on a page s times as
    wide and as tall, a page holds the same writing as at scale 1)."""
    seed = KINDS.index(kind) * 1000 + number
    rng = np.random.default_rng(seed)
    if kind in ("handwriting", "thick", "forms"):
        return drawn_page(kind, rng, scale, width, height)
    coverage, text = render(rng, width, height, scale=scale)
    truth = np.where(coverage >= 0.5, 0, 255).astype(np.uint8)
    return degrade(kind, coverage, rng, scale), truth, text


def held_out(count=1):
    """The held-out pages as (kind, number, scale): `count` of each kind, numbers from 900 (seeds no
    page of the main set uses), the scale turning with the kind. Never used to tune a method."""
    return [(kind, 900 + i, SCALES[(k + i) % len(SCALES)]) for k, kind in enumerate(KINDS)
            for i in range(count)]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("folder")
    parser.add_argument("--pages", type=int, default=4)
    parser.add_argument("--kind", choices=KINDS, help="only this kind of page")
    parser.add_argument("--scale", type=float, default=1.0, help="letters' size, 1 today's")
    parser.add_argument("--held-out", type=int, default=0, metavar="N",
                        help="write the N held-out pages of each kind instead")
    args = parser.parse_args()
    os.makedirs(args.folder, exist_ok=True)
    if args.held_out:
        jobs = [(kind, number, scale, f"held-{kind}-{number}-x{scale:g}")
                for kind, number, scale in held_out(args.held_out)
                if not args.kind or kind == args.kind]
    else:
        suffix = "" if args.scale == 1 else f"-x{args.scale:g}"
        jobs = [(kind, number, args.scale, f"{kind}{suffix}-{number}")
                for kind in ([args.kind] if args.kind else KINDS) for number in range(args.pages)]
    for kind, number, scale, name in jobs:
        page, truth, text = make_page(kind, number, scale)
        stem = os.path.join(args.folder, name)
        write_pgm(stem + ".pgm", page)
        write_pgm(stem + ".truth.pgm", truth)
        with open(stem + ".txt", "w") as out:
            out.write("\n".join(text) + "\n")


if __name__ == "__main__":
    main()
