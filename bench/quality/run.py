#!/usr/bin/env python3
"""The quality benchmark: every binarisation method on the same generated pages, measured against
the pages' ground truth, and printed as Markdown tables.

    /usr/bin/python3 bench/quality/run.py --tools build-bench/tools [--pages N] [--no-ocr]
        [--scales 0.6,1,2,4] [--held-out N] [--readme bench/README.md]

Makes N pages (4 by default) of each kind with pages.py, runs ours (test_grey at 128 and each
method of seuiller at its defaults), scikit-image's, OpenCV's, netpbm's pamthreshold and
ImageMagick's -lat on each, and gives one table per measure (F-measure, PSNR, DRD; rows the
methods, columns the kinds of page and the mean) and the time per page. Where tesseract is
installed, the character error rate of its reading of each result, on the first page of each
kind but the forms. Then the same number of pages of each kind at each scale of the letters
(0.6, 1, 2 and 4 times today's), the held-out pages (pages.py --held-out, 1 of each kind by
default), three real photographed pages (one held out) against their ground truths (truth/), and
the OCR of one of them. Gatos's and NICK's methods are implemented here
(numpy, scipy). A method whose tool is missing is left out and named. Needs python3-opencv,
python3-skimage and python3-pil (Debian), run with /usr/bin/python3.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import metrics  # noqa: E402
import pages  # noqa: E402
from run import read_raster  # noqa: E402  (the main benchmark's reader)
import report_section  # noqa: E402


def read_pnm(path):
    """The samples of a greymap, a bitmap or netpbm's black-and-white PAM, 0..255, 0 for black."""
    width, height, raster = read_raster(path)
    return np.frombuffer(raster, dtype=np.uint8).reshape(height, width)


def binary(image):
    """0 for ink, 255 for paper, from any two-level result."""
    return np.where(np.asarray(image) < 128, 0, 255).astype(np.uint8)


def nick(image, window=19, k=-0.1):
    """NICK's local threshold (Khurshid et al.): T = m + k sqrt((sum p^2 - m^2) / NP) over the
    window of NP pixels; white above T."""
    from scipy.ndimage import uniform_filter
    i = np.asarray(image, dtype=np.float64)
    m = uniform_filter(i, window, mode="mirror")
    squares = uniform_filter(i * i, window, mode="mirror")
    t = m + k * np.sqrt(np.maximum(squares - m * m / (window * window), 0))
    return np.where(i > t, 255, 0)


def gatos(image, window=15, background=61, q=0.6, p1=0.5, p2=0.8):
    """Gatos, Pratikakis and Perantonis's method: a Wiener filter; a first estimate of the text
    (Sauvola, k 0.2); the background interpolated under it (the mean of the paper around each text
    pixel); then ink where the background exceeds the sample by more than a distance that follows
    the background (q, p1, p2 the published values). No post-processing."""
    from scipy.ndimage import uniform_filter
    from scipy.signal import wiener
    from skimage.filters import threshold_sauvola
    i = np.nan_to_num(wiener(np.asarray(image, dtype=np.float64), 3), nan=255.0)
    text = i <= threshold_sauvola(i, window, 0.2, r=127.5)  # R of 8-bit samples, on floats
    paper = uniform_filter(np.where(text, 0, i), background, mode="mirror")
    weight = uniform_filter((~text).astype(np.float64), background, mode="mirror")
    fallback = i[~text].mean() if (~text).any() else 255.0
    b = np.where(text, np.where(weight > 1e-9, paper / np.maximum(weight, 1e-9), fallback), i)
    if not text.any():
        return np.full(i.shape, 255)
    delta = (b - i)[text].mean()
    mean_paper = b[~text].mean() if (~text).any() else 255.0
    d = q * delta * ((1 - p2) / (1 + np.exp(-4 * b / (mean_paper * (1 - p1)) +
                                            2 * (1 + p1) / (1 - p1))) + p2)
    return np.where(b - i > d, 0, 255)


def methods(tools):
    """(name, function(page path, work folder) -> binary image, or None when missing)."""
    import cv2
    from skimage.filters import threshold_niblack, threshold_otsu, threshold_sauvola
    cv2.setNumThreads(1)
    test_grey = os.path.join(tools, "test_grey")
    seuiller = os.path.join(tools, "seuiller")

    def ours_seuiller(method, *options):
        def run(path, work):
            out = os.path.join(work, "seuiller-" + method + "".join(options))
            subprocess.run([seuiller, "-q", "-j1", *options, method, out, path], check=True)
            return read_pnm(os.path.join(out, os.path.basename(path)))
        return run

    def ours_test_grey(path, work):
        out = os.path.join(work, "test_grey.pgm")
        subprocess.run([test_grey, path, out, "128"], stdout=subprocess.DEVNULL)
        return read_pnm(out)

    def image_of(path):
        return read_pnm(path)

    def tool(argv_of):
        def run(path, work):
            out = os.path.join(work, "tool.pnm")
            with open(out, "wb") as o:
                subprocess.run(argv_of(path), stdout=o, stderr=subprocess.DEVNULL, check=True)
            return read_pnm(out)
        return run

    found = []
    found += [("ours: test_grey 128", ours_test_grey)]
    found += [(f"ours: seuiller {m}", ours_seuiller(m))
              for m in ("otsu", "sauvola", "niblack", "wolf", "auto")]
    found += [(f"ours: seuiller -f auto {m}", ours_seuiller(m, "-f", "auto"))
              for m in ("sauvola", "niblack", "wolf")]
    found += [
        ("scikit-image: Otsu", lambda p, w: (lambda i: i > threshold_otsu(i))(image_of(p)) * 255),
        ("scikit-image: Sauvola", lambda p, w: (lambda i: i > threshold_sauvola(i))(image_of(p)) * 255),
        ("scikit-image: Niblack", lambda p, w: (lambda i: i > threshold_niblack(i))(image_of(p)) * 255),
        ("NICK 19, -0.1 (numpy)", lambda p, w: nick(image_of(p))),
        ("Gatos (numpy)", lambda p, w: gatos(image_of(p))),
        ("OpenCV: Otsu", lambda p, w: cv2.threshold(image_of(p), 0, 255,
                                                    cv2.THRESH_BINARY + cv2.THRESH_OTSU)[1]),
        ("OpenCV: adaptive gaussian 11, 2", lambda p, w: cv2.adaptiveThreshold(
            image_of(p), 255, cv2.ADAPTIVE_THRESH_GAUSSIAN_C, cv2.THRESH_BINARY, 11, 2)),
        ("OpenCV contrib: Sauvola 15, 0.2", lambda p, w: cv2.ximgproc.niBlackThreshold(
            image_of(p), 255, cv2.THRESH_BINARY, 15, 0.2, None, cv2.ximgproc.BINARIZATION_SAUVOLA)),
        ("OpenCV contrib: Wolf 15, 0.5", lambda p, w: cv2.ximgproc.niBlackThreshold(
            image_of(p), 255, cv2.THRESH_BINARY, 15, 0.5, None, cv2.ximgproc.BINARIZATION_WOLF)),
    ]
    if shutil.which("pamthreshold"):
        found += [("netpbm: pamthreshold", tool(lambda p: ["pamthreshold", p])),
                  ("netpbm: pamthreshold -local=15x15", tool(lambda p: ["pamthreshold", "-local=15x15", p])),
                  ("netpbm: pamthreshold -dual=15x15", tool(lambda p: ["pamthreshold", "-dual=15x15", p]))]
    else:
        print("netpbm is not installed: pamthreshold left out\n")
    convert = shutil.which("convert")
    if convert:
        found += [("ImageMagick: -lat 10x10-5%",
                   tool(lambda p: [convert, p, "-lat", "10x10-5%", "pgm:-"]))]
    else:
        print("ImageMagick is not installed: -lat left out\n")
    return found


def ocr(image, work, name):
    """Tesseract's reading of a binary image."""
    path = os.path.join(work, name + ".pgm")
    pages.write_pgm(path, binary(image))
    # One thread each: the pool runs several, and tesseract's own threads spin against them.
    result = subprocess.run(["tesseract", path, "stdout", "-l", "eng", "--psm", "4"],
                            capture_output=True, text=True,
                            env=dict(os.environ, OMP_THREAD_LIMIT="1"))
    return result.stdout


def table(title, names, kinds, values, fmt, better):
    print(f"\n{title} ({better} is better):\n")
    print("| method | " + " | ".join(kinds) + " | mean |")
    print("| --- | " + " | ".join("---:" for _ in kinds) + " | ---: |")
    for name in names:
        row = [np.mean(values[name][k]) for k in kinds]
        print(f"| {name} | " + " | ".join(fmt(v) for v in row) + f" | {fmt(np.mean(row))} |")


# The real pages: photographs scikit-image ships, their pixel ground truths made by
# truth/make_truth.py, and what the book page says, read by eye (truth/README.md).
TRUTH = os.path.join(os.path.dirname(os.path.abspath(__file__)), "truth")
REAL_PAGE_TEXT = os.path.join(TRUTH, "page.txt")
# The book page as it is and cut at its edges (top, bottom, left, right), for the OCR.
REAL_PAGE_CUTS = [(0, 0, 0, 0), (1, 0, 0, 0), (0, 1, 0, 0), (0, 0, 1, 0), (0, 0, 0, 1),
                  (2, 0, 2, 0), (0, 2, 0, 2), (1, 1, 1, 1), (2, 2, 2, 2)]
# The line of print that the book page's bottom edge cuts in half (its rows from 182, its columns
# up to 64) cannot be read by eye, so its text has no transcription: whited out in every result
# before the reading, or the reader makes letters of it, merges them with the code line above, and
# a method is scored on what it does with print the text leaves out.
REAL_PAGE_UNREAD = (182, 65)


def without_unread(image, top, left):
    """A result for the book page, cut at (top, left), with the unread half line whited out."""
    image = image.copy()
    image[max(REAL_PAGE_UNREAD[0] - top, 0):, :max(REAL_PAGE_UNREAD[1] - left, 0)] = 255
    return image
REAL_PAGES = ["page", "text", "sudoku"]


def measure(found, stems, work, seconds):
    """F-measure, PSNR and DRD of each method on each page; the first page's result too."""
    values = {n: {"f": [], "p": [], "d": []} for n, _ in found}
    firsts = {}
    for index, stem in enumerate(stems):
        truth = read_pnm(stem + ".truth.pgm")
        for name, run in found:
            start = time.perf_counter()
            result = binary(run(stem + ".pgm", work))
            seconds[name] += time.perf_counter() - start
            values[name]["f"].append(metrics.f_measure(result, truth))
            values[name]["p"].append(metrics.psnr(result, truth))
            values[name]["d"].append(metrics.drd(result, truth))
            if index == 0:
                firsts[name] = result
    return values, firsts


def report(args):
    shutil.rmtree(args.dir, ignore_errors=True)
    folder = os.path.join(args.dir, "pages")
    generator = os.path.join(os.path.dirname(os.path.abspath(__file__)), "pages.py")
    subprocess.run([sys.executable, generator, folder, "--pages", str(args.pages)], check=True)
    scales = [float(v) for v in args.scales.split(",") if v]
    for scale in scales:
        if scale != 1:
            subprocess.run([sys.executable, generator, folder, "--pages", str(args.pages),
                            "--scale", f"{scale:g}"], check=True)
    kinds = pages.KINDS
    found = methods(os.path.abspath(args.tools))
    names = [name for name, _ in found]
    seconds = {n: 0.0 for n in names}
    work = tempfile.mkdtemp(dir=args.dir)
    by_kind = {}
    firsts = {}
    for kind in kinds:
        stems = [os.path.join(folder, f"{kind}-{n}") for n in range(args.pages)]
        by_kind[kind], first = measure(found, stems, work, seconds)
        for name in names:
            firsts[(name, kind)] = first[name]
    f_values = {n: {k: by_kind[k][n]["f"] for k in kinds} for n in names}
    p_values = {n: {k: by_kind[k][n]["p"] for k in kinds} for n in names}
    d_values = {n: {k: by_kind[k][n]["d"] for k in kinds} for n in names}
    count = len(kinds) * args.pages
    print(f"{args.pages} pages of each kind, A4 at 150 dpi ({pages.WIDTH} x {pages.HEIGHT}).")
    table("F-measure, ink as the foreground, %", names, kinds, f_values, lambda v: f"{v:.1f}",
          "higher")
    # A perfect page has an infinite PSNR: counted as 60 dB, above every imperfect one here.
    capped = {n: {k: [min(v, 60.0) for v in p_values[n][k]] for k in kinds} for n in names}
    table("PSNR, dB (a perfect page counted as 60)", names, kinds, capped, lambda v: f"{v:.1f}",
          "higher")
    table("DRD", names, kinds, d_values, lambda v: f"{v:.2f}", "lower")
    if len(scales) > 1:
        # As many pages of each kind at each scale as at today's (one page alone let a single
        # page decide a scale's figure); the letters (and blur, stains, show-through) that many
        # times today's, on a page of the same size in pixels.
        by_scale = {n: {} for n in names}
        for scale in scales:
            if scale == 1:
                for name in names:
                    by_scale[name]["x1"] = [v for k in kinds for v in f_values[name][k]]
                continue
            stems = [os.path.join(folder, f"{kind}-x{scale:g}-{n}") for kind in kinds
                     for n in range(args.pages)]
            values, _ = measure(found, stems, work, {n: 0.0 for n in names})
            for name in names:
                by_scale[name][f"x{scale:g}"] = values[name]["f"]
        table(f"F-measure by scale of the letters ({args.pages} page(s) of each kind, mean over "
              "the kinds), %", names, [f"x{s:g}" for s in scales], by_scale,
              lambda v: f"{v:.1f}", "higher")
    if args.held_out:
        # Pages on seeds of their own at varied scales, never used to tune a method.
        subprocess.run([sys.executable, generator, folder, "--held-out", str(args.held_out)],
                       check=True)
        held = {n: {} for n in names}
        for kind in kinds:
            stems = [os.path.join(folder, f"held-{k}-{number}-x{scale:g}")
                     for k, number, scale in pages.held_out(args.held_out) if k == kind]
            values, _ = measure(found, stems, work, {n: 0.0 for n in names})
            for name in names:
                held[name][kind] = values[name]["f"]
        table(f"Held-out pages: F-measure, {args.held_out} page(s) of each kind on seeds never "
              "used for tuning, the scale turning with the kind (0.6, 1, 2, 4), %", names, kinds,
              held, lambda v: f"{v:.1f}", "higher")
    real_results = {}
    try:
        sys.path.insert(0, TRUTH)
        import make_truth
        real_f = {n: {} for n in names}
        halo_f = {n: {} for n in names}
        for page in REAL_PAGES:
            stem = os.path.join(args.dir, "real-" + page)
            pages.write_pgm(stem + ".pgm", make_truth.PAGES[page][0]())
            pages.write_pgm(stem + ".truth.pgm", read_pnm(os.path.join(TRUTH, page + ".truth.pbm")))
            values, results = measure(found, [stem], work, {n: 0.0 for n in names})
            halo = read_pnm(os.path.join(TRUTH, page + ".halo.pbm"))
            for name in names:
                real_f[name][page] = values[name]["f"]
                halo_f[name][page] = [metrics.f_measure(binary(results[name]), halo)]
                real_results[(name, page)] = results[name]
        table("Real pages: F-measure against the pixel ground truths of truth/ (page: "
              "scikit-image's photographed book page, 384 x 191; text: its handwritten formulas "
              "on ruled paper, 448 x 172; sudoku, held out: never used to tune a method, a "
              "phone's photograph of a newspaper's puzzle, 558 x 563; each stroke up to its edge, "
              "halfway between the paper and the stroke), %", names, REAL_PAGES, real_f,
              lambda v: f"{v:.1f}", "higher")
        table("Real pages against the same marks with their blurred halo (truth/NAME.halo.pbm: "
              "down to 0.80 or 0.86 of the paper), for comparison, %", names, REAL_PAGES, halo_f,
              lambda v: f"{v:.1f}", "higher")
    except ImportError:
        print("\nscikit-image is not installed: the real pages left out")
    if args.ocr and shutil.which("tesseract"):
        # Not the forms: digits scattered over a grid's cells, which a reader of lines of text
        # does not read in order (every method 100%).
        read_kinds = [k for k in kinds if k != "forms"]
        texts = {k: open(os.path.join(folder, f"{k}-0.txt")).read() for k in read_kinds}
        jobs = {(n, k): firsts[(n, k)] for n in names for k in read_kinds}
        # The ground truth read the same way: what a perfect binarisation would score, so that
        # a method's figure reads against the reader's own errors on these pages.
        reference = "the ground truth itself (reference)"
        for k in read_kinds:
            jobs[(reference, k)] = read_pnm(os.path.join(folder, f"{k}-0.truth.pgm"))
        real = bool(real_results)
        if real:
            # One reading of a page this small moves by points with a pixel: each method reads
            # the page as it is and cut by one or two pixels at its edges, and the mean counts.
            page = make_truth.PAGES["page"][0]()
            for cut, (top, bottom, left, right) in enumerate(REAL_PAGE_CUTS):
                stem = os.path.join(args.dir, f"real-page-cut{cut}")
                pages.write_pgm(stem + ".pgm", page[top:page.shape[0] - bottom,
                                                    left:page.shape[1] - right])
                for name, run in found:
                    jobs[(name, "real page", cut)] = without_unread(
                        binary(run(stem + ".pgm", work)), top, left)
                truth = read_pnm(os.path.join(TRUTH, "page.truth.pbm"))
                jobs[(reference, "real page", cut)] = without_unread(
                    binary(truth[top:truth.shape[0] - bottom, left:truth.shape[1] - right]), top,
                    left)
            texts["real page"] = open(REAL_PAGE_TEXT).read()
        with ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
            read = dict(zip(jobs, pool.map(
                lambda item: ocr(item[1], work, f"{abs(hash(item[0]))}"), jobs.items())))
        columns = read_kinds + (["real page"] if real else [])
        cer = {n: {k: [metrics.character_error_rate(read[job], texts[k]) for job in read
                       if job[:2] == (n, k)] for k in columns} for n in names + [reference]}
        table("OCR character error rate (tesseract, first page of each kind but the forms; the "
              "real page: scikit-image's photographed book page, 384 x 191, against its text read "
              "by eye (300 characters; the half line of print its bottom edge cuts, which has no "
              "text, whited out), "
              f"the mean of {len(REAL_PAGE_CUTS)} readings: as it is and cut by one or two "
              "pixels at its edges), %",
              names + [reference], columns, cer, lambda v: f"{v:.1f}", "lower")
    elif args.ocr:
        print("\ntesseract is not installed (apt-get install -y tesseract-ocr tesseract-ocr-eng): "
              "no OCR table")
    print("\nTime per page (the whole call: a process for ours and the command-line tools, a "
          "function call for the Python libraries), one thread:\n")
    print("| method | ms per page |")
    print("| --- | ---: |")
    for name in names:
        print(f"| {name} | {seconds[name] / count * 1e3:.0f} |")
    shutil.rmtree(args.dir, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--tools", required=True, help="the folder of test_grey and seuiller")
    parser.add_argument("--pages", type=int, default=4)
    parser.add_argument("--scales", default="0.6,1,2,4",
                        help="scales of the letters for the table by scale (1 alone: none)")
    parser.add_argument("--held-out", type=int, default=1, metavar="N",
                        help="held-out pages of each kind (0: none)")
    parser.add_argument("--dir", default="/dev/shm/imagefiles-quality")
    parser.add_argument("--no-ocr", dest="ocr", action="store_false")
    parser.add_argument("--readme", default=report_section.README,
                        help="the file whose section <!-- begin quality --> ... <!-- end quality "
                        "--> the report replaces (bench/README.md)")
    args = parser.parse_args()
    # A run with fewer pages or without the OCR is shown, not written.
    with report_section.section("quality", "bench/quality/run.py", path=args.readme) as out:
        out.write = args.pages == 4 and args.ocr and shutil.which("tesseract") is not None
        report(args)


if __name__ == "__main__":
    main()
