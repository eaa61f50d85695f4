#!/usr/bin/env python3
"""The quality benchmark: every binarisation method on the same generated pages, measured against
the pages' ground truth, and printed as Markdown tables.

    /usr/bin/python3 bench/quality/run.py --tools build-bench/tools [--pages N] [--no-ocr]

Makes N pages (4 by default) of each kind with pages.py, runs ours (test_grey at 128 and each
method of seuiller at its defaults), scikit-image's, OpenCV's, netpbm's pamthreshold and
ImageMagick's -lat on each, and gives one table per measure (F-measure, PSNR, DRD; rows the
methods, columns the kinds of page and the mean) and the time per page. Where tesseract is
installed, the character error rate of its reading of each result, on the first page of each kind.
A method whose tool is missing is left out and named. Needs python3-opencv, python3-skimage and
python3-pil (Debian), run with /usr/bin/python3.
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


def read_pnm(path):
    """The samples of a greymap, a bitmap or netpbm's black-and-white PAM, 0..255, 0 for black."""
    width, height, raster = read_raster(path)
    return np.frombuffer(raster, dtype=np.uint8).reshape(height, width)


def binary(image):
    """0 for ink, 255 for paper, from any two-level result."""
    return np.where(np.asarray(image) < 128, 0, 255).astype(np.uint8)


def methods(tools):
    """(name, function(page path, work folder) -> binary image, or None when missing)."""
    import cv2
    from skimage.filters import threshold_niblack, threshold_otsu, threshold_sauvola
    cv2.setNumThreads(1)
    test_grey = os.path.join(tools, "test_grey")
    seuiller = os.path.join(tools, "seuiller")

    def ours_seuiller(method):
        def run(path, work):
            out = os.path.join(work, "seuiller-" + method)
            subprocess.run([seuiller, "-q", "-j1", method, out, path], check=True)
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
    found += [
        ("scikit-image: Otsu", lambda p, w: (lambda i: i > threshold_otsu(i))(image_of(p)) * 255),
        ("scikit-image: Sauvola", lambda p, w: (lambda i: i > threshold_sauvola(i))(image_of(p)) * 255),
        ("scikit-image: Niblack", lambda p, w: (lambda i: i > threshold_niblack(i))(image_of(p)) * 255),
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
    result = subprocess.run(["tesseract", path, "stdout", "-l", "eng", "--psm", "4"],
                            capture_output=True, text=True)
    return result.stdout


def table(title, names, kinds, values, fmt, better):
    print(f"\n{title} ({better} is better):\n")
    print("| method | " + " | ".join(kinds) + " | mean |")
    print("| --- | " + " | ".join("---:" for _ in kinds) + " | ---: |")
    for name in names:
        row = [np.mean(values[name][k]) for k in kinds]
        print(f"| {name} | " + " | ".join(fmt(v) for v in row) + f" | {fmt(np.mean(row))} |")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--tools", required=True, help="the folder of test_grey and seuiller")
    parser.add_argument("--pages", type=int, default=4)
    parser.add_argument("--dir", default="/dev/shm/imagefiles-quality")
    parser.add_argument("--no-ocr", dest="ocr", action="store_false")
    args = parser.parse_args()
    shutil.rmtree(args.dir, ignore_errors=True)
    folder = os.path.join(args.dir, "pages")
    subprocess.run([sys.executable, os.path.join(os.path.dirname(__file__), "pages.py"), folder,
                    "--pages", str(args.pages)], check=True)
    kinds = pages.KINDS
    found = methods(os.path.abspath(args.tools))
    names = [name for name, _ in found]
    f_values = {n: {k: [] for k in kinds} for n in names}
    p_values = {n: {k: [] for k in kinds} for n in names}
    d_values = {n: {k: [] for k in kinds} for n in names}
    seconds = {n: 0.0 for n in names}
    firsts = {}  # the first page of each kind, for the OCR
    work = tempfile.mkdtemp(dir=args.dir)
    for kind in kinds:
        for number in range(args.pages):
            stem = os.path.join(folder, f"{kind}-{number}")
            truth = read_pnm(stem + ".truth.pgm")
            for name, run in found:
                start = time.perf_counter()
                result = binary(run(stem + ".pgm", work))
                seconds[name] += time.perf_counter() - start
                f_values[name][kind].append(metrics.f_measure(result, truth))
                p_values[name][kind].append(metrics.psnr(result, truth))
                d_values[name][kind].append(metrics.drd(result, truth))
                if number == 0:
                    firsts[(name, kind)] = result
    count = len(kinds) * args.pages
    print(f"## Binarisation quality: {args.pages} pages of each kind, A4 at 150 dpi "
          f"({pages.WIDTH} x {pages.HEIGHT})")
    table("F-measure, ink as the foreground, %", names, kinds, f_values, lambda v: f"{v:.1f}",
          "higher")
    # A perfect page has an infinite PSNR: counted as 60 dB, above every imperfect one here.
    capped = {n: {k: [min(v, 60.0) for v in p_values[n][k]] for k in kinds} for n in names}
    table("PSNR, dB (a perfect page counted as 60)", names, kinds, capped, lambda v: f"{v:.1f}",
          "higher")
    table("DRD", names, kinds, d_values, lambda v: f"{v:.2f}", "lower")
    if args.ocr and shutil.which("tesseract"):
        texts = {k: open(os.path.join(folder, f"{k}-0.txt")).read() for k in kinds}
        jobs = {(n, k): firsts[(n, k)] for n in names for k in kinds}
        with ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
            read = dict(zip(jobs, pool.map(
                lambda item: ocr(item[1], work, f"{abs(hash(item[0]))}"), jobs.items())))
        cer = {n: {k: [metrics.character_error_rate(read[(n, k)], texts[k])] for k in kinds}
               for n in names}
        table("OCR character error rate (tesseract, first page of each kind), %", names, kinds,
              cer, lambda v: f"{v:.1f}", "lower")
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


if __name__ == "__main__":
    main()
