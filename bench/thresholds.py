#!/usr/bin/env python3
"""Times the library's binarisations against OpenCV's and scikit-image's, one thread, side by side
in one run, and writes a Markdown report (shown as it runs) into bench/README.md.

    /usr/bin/python3 bench/thresholds.py --bench build-bench/bench/threshold_bench \
        --seuiller build-bench/tools/seuiller [--dir DIR] [--rounds N]

The pictures are pages of dark strokes on a background lit unevenly, with noise (8000 x 6000 and
4000 x 3000), made here with numpy. Every output of ours is first checked against its reference:
Otsu against OpenCV's THRESH_OTSU on the 48 MP page, the local methods against scikit-image (the
formula for Wolf) on the 12 MP page. Then each case alternates ours and the peer's, RUNS runs each
a round, and the report gives medians and the median of the paired ratios. Needs python3-opencv
and python3-skimage (Debian), run with /usr/bin/python3.
"""

import argparse
import os
import statistics
import subprocess
import sys
import time

import cv2
import numpy as np
import skimage
from skimage.filters import threshold_niblack, threshold_sauvola
from skimage.filters.thresholding import _mean_std

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import report_section  # noqa: E402

MIB = 1 << 20


def page(rows, columns, seed):
    """A page: light falling off towards one corner, lines of dark strokes, sensor noise."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:rows, 0:columns].astype(np.float32)
    light = 235 - 90 * (x / columns) * (y / rows)
    ink = ((x // 4) % 7 < 2) & ((y // 24) % 3 == 0) & (((x // 200) + (y // 72)) % 4 != 0)
    picture = np.where(ink, light * 0.3, light) + rng.normal(0, 6, (rows, columns))
    return np.clip(picture, 0, 255).astype(np.uint8)


def ruled_page(rows, columns, seed):
    """A form: the page's strokes in every other band of 300 rows, on a grid of thin grey rules
    (two pixels, blurred by the lens) every 36 rows and 60 columns."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:rows, 0:columns].astype(np.float32)
    light = 235 - 90 * (x / columns) * (y / rows)
    ink = (((x // 4) % 7 < 2) & ((y // 24) % 3 == 0) & (((x // 200) + (y // 72)) % 4 != 0)
           & ((y // 300) % 2 == 0))
    rules = ((y % 36) < 2) | ((x % 60) < 2)
    picture = np.where(ink, light * 0.3, np.where(rules, light * 0.72, light))
    picture = cv2.GaussianBlur(picture, (0, 0), 0.8) + rng.normal(0, 6, (rows, columns))
    return np.clip(picture, 0, 255).astype(np.uint8)


def write_pgm(path, pixels):
    with open(path, "wb") as out:
        out.write(b"P5\n%d %d\n255\n" % (pixels.shape[1], pixels.shape[0]))
        out.write(pixels.tobytes())


def read_pgm(path, shape):
    data = open(path, "rb").read()
    return np.frombuffer(data[len(data) - shape[0] * shape[1]:], dtype=np.uint8).reshape(shape)


def ours(bench, picture, method, window, k, runs, output):
    result = subprocess.run([bench, picture, method, str(window), str(k), str(runs), output],
                            check=True, capture_output=True, text=True)
    return float(result.stdout)


def timed(function, runs):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        function()
        times.append((time.perf_counter() - start) * 1000)
    return statistics.median(times)


def reference(method, image, window, k):
    """255 where the reference keeps the pixel white, 0 black, 128 within 1e-9 of the threshold."""
    if method == "otsu":
        return cv2.threshold(image, 0, 255, cv2.THRESH_BINARY + cv2.THRESH_OTSU)[1]
    if method == "sauvola":
        t = threshold_sauvola(image, window_size=window, k=k)
    elif method == "niblack":
        t = threshold_niblack(image, window_size=window, k=k)
    else:
        m, s = _mean_std(image, window)
        t = m - k * (1 - s / s.max()) * (m - image.min())
    out = np.where(image > t, 255, 0).astype(np.uint8)
    out[np.abs(image - t) <= 1e-9] = 128
    return out


def differing(got, want):
    return int(np.count_nonzero((want != 128) & (got != want)))


def whole_process(argv, runs):
    """Median wall time (ms) and peak resident memory (MiB) of a command."""
    times, peaks = [], []
    for _ in range(runs):
        start = time.perf_counter()
        result = subprocess.run(["/usr/bin/time", "-f", "%M"] + argv, capture_output=True, text=True)
        times.append((time.perf_counter() - start) * 1000)
        if result.returncode != 0:
            sys.exit("%s failed: %s" % (argv, result.stderr))
        peaks.append(int(result.stderr.split()[-1]) / 1024)
    return statistics.median(times), statistics.median(peaks)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bench", required=True)
    parser.add_argument("--seuiller", required=True)
    parser.add_argument("--dir", default="/dev/shm/imagefiles-thresholds")
    parser.add_argument("--rounds", type=int, default=7)
    args = parser.parse_args()
    with report_section.section("thresholds", "bench/thresholds.sh"):
        report(args)


def report(args):
    cv2.setNumThreads(1)
    os.makedirs(args.dir, exist_ok=True)
    big_path = os.path.join(args.dir, "page-48mp.pgm")
    mid_path = os.path.join(args.dir, "page-12mp.pgm")
    out_path = os.path.join(args.dir, "out.pgm")
    big = page(6000, 8000, 1)
    mid = page(3000, 4000, 2)
    write_pgm(big_path, big)
    write_pgm(mid_path, mid)

    print("OpenCV %s, scikit-image %s, one thread.\n" % (cv2.__version__, skimage.__version__))
    print("Pages of %d x %d (48 MP) and %d x %d (12 MP) in memory; medians of %d rounds, "
          "each alternating ours and the peer's.\n" % (8000, 6000, 4000, 3000, args.rounds))

    # Exactness first: a fast answer that differs is no answer.
    print("| check | pixels that differ from the reference |")
    print("| --- | ---: |")
    checks = [("otsu", big_path, big, 0, 0), ("sauvola", mid_path, mid, 15, 0.2),
              ("niblack", mid_path, mid, 15, 0.2), ("wolf", mid_path, mid, 15, 0.5),
              ("sauvola", mid_path, mid, 75, 0.2)]
    exact = True
    for method, path, image, window, k in checks:
        ours(args.bench, path, method, window, k, 1, out_path)
        wrong = differing(read_pgm(out_path, image.shape), reference(method, image, window, k))
        exact = exact and wrong == 0
        label = method if method == "otsu" else "%s %d, k %g" % (method, window, k)
        peer = "OpenCV THRESH_OTSU, 48 MP" if method == "otsu" else "scikit-image, 12 MP"
        print("| %s against %s | %d |" % (label, peer, wrong))
    print()

    out = np.empty_like(big)
    cases = [
        ("fixed threshold 128", "fixed", 0, 0, "OpenCV THRESH_BINARY",
         lambda: cv2.threshold(big, 127, 255, cv2.THRESH_BINARY, dst=out)),
        ("Otsu", "otsu", 0, 0, "OpenCV THRESH_OTSU",
         lambda: cv2.threshold(big, 0, 255, cv2.THRESH_BINARY + cv2.THRESH_OTSU, dst=out)),
    ]
    for window in (15, 75):
        mean = (lambda w: lambda: cv2.adaptiveThreshold(
            big, 255, cv2.ADAPTIVE_THRESH_MEAN_C, cv2.THRESH_BINARY, w, 0, dst=out))(window)
        for method, k in (("sauvola", 0.2), ("niblack", 0.2), ("wolf", 0.5)):
            cases.append(("%s, window %d" % (method.capitalize(), window), method, window, k,
                          "OpenCV adaptiveThreshold MEAN_C %d" % window, mean))
    contrib = [("Sauvola, window 15", "sauvola", cv2.ximgproc.BINARIZATION_SAUVOLA, 0.2),
               ("Wolf, window 15", "wolf", cv2.ximgproc.BINARIZATION_WOLF, 0.5),
               ("Niblack, window 15", "niblack", cv2.ximgproc.BINARIZATION_NIBLACK, 0.2)]
    for label, method, kind, k in contrib:
        cases.append((label, method, 15, k, "OpenCV contrib niBlackThreshold",
                      (lambda kind, k: lambda: cv2.ximgproc.niBlackThreshold(
                          big, 255, cv2.THRESH_BINARY, 15, k, out, kind))(kind, k)))

    print("48 MP, in memory, one thread:\n")
    print("| case | ours | peer | peer's time | ratio (ours / peer) |")
    print("| --- | ---: | --- | ---: | ---: |")
    results = {}
    for label, method, window, k, peer, function in cases:
        runs = 1 if "contrib" in peer else 3
        mine, theirs, ratios = [], [], []
        for _ in range(args.rounds if runs > 1 else 3):
            a = ours(args.bench, big_path, method, window, k, 3, out_path)
            b = timed(function, runs)
            mine.append(a)
            theirs.append(b)
            ratios.append(a / b)
        results[(label, peer)] = (statistics.median(mine), statistics.median(theirs),
                                  statistics.median(ratios))
        print("| %s | %.1f ms | %s | %.1f ms | %.2f |" % ((label, results[(label, peer)][0], peer)
                                                        + results[(label, peer)][1:]))
    print()

    # The automatic method against our Sauvola, both ours, alternating.
    autos, sauvolas, windows = [], [], []
    for _ in range(args.rounds):
        autos.append(ours(args.bench, big_path, "auto", 0, 0, 3, out_path))
        sauvolas.append(ours(args.bench, big_path, "sauvola", 15, 0.2, 3, out_path))
        windows.append(ours(args.bench, big_path, "fenetre", 0, 0, 3, out_path))
    auto_ratio = statistics.median(a / b for a, b in zip(autos, sauvolas))
    window_ratio = statistics.median(a / b for a, b in zip(windows, sauvolas))
    print("48 MP, the automatic method: %.1f ms, against our Sauvola's %.1f ms in the same rounds; "
          "fenetre_conseillee %.1f ms.\n"
          % (statistics.median(autos), statistics.median(sauvolas), statistics.median(windows)))

    # The same page drawn four times as large (its 1500 x 2000 quarter enlarged, blurred by
    # the interpolation): strokes of large writing, where auto's windows and valleys widen.
    large_path = os.path.join(args.dir, "page-48mp-large.pgm")
    write_pgm(large_path, cv2.resize(page(1500, 2000, 4), (8000, 6000),
                                     interpolation=cv2.INTER_LINEAR))
    large_autos, large_sauvolas = [], []
    for _ in range(args.rounds):
        large_autos.append(ours(args.bench, large_path, "auto", 0, 0, 3, out_path))
        large_sauvolas.append(ours(args.bench, large_path, "sauvola", 15, 0.2, 3, out_path))
    os.remove(large_path)
    large_ratio = statistics.median(a / b for a, b in zip(large_autos, large_sauvolas))
    print("48 MP of writing four times as large: the automatic method %.1f ms, our Sauvola %.1f "
          "ms.\n" % (statistics.median(large_autos), statistics.median(large_sauvolas)))

    # A form ruled all over (thin grey rules, a grid): auto's runs along and across the rules.
    ruled_path = os.path.join(args.dir, "page-48mp-ruled.pgm")
    write_pgm(ruled_path, ruled_page(6000, 8000, 5))
    ruled_autos, ruled_sauvolas = [], []
    for _ in range(args.rounds):
        ruled_autos.append(ours(args.bench, ruled_path, "auto", 0, 0, 3, out_path))
        ruled_sauvolas.append(ours(args.bench, ruled_path, "sauvola", 15, 0.2, 3, out_path))
    os.remove(ruled_path)
    print("48 MP of a form ruled all over: the automatic method %.1f ms, our Sauvola %.1f ms "
          "(%.2f times).\n" % (statistics.median(ruled_autos), statistics.median(ruled_sauvolas),
                              statistics.median(a / b for a, b in zip(ruled_autos,
                                                                      ruled_sauvolas))))

    # fenetre_conseillee on a small page (a webcam's, a thumbnail's): its fixed costs.
    small_path = os.path.join(args.dir, "page-640x480.pgm")
    write_pgm(small_path, page(480, 640, 3))
    small_window = statistics.median(ours(args.bench, small_path, "fenetre", 0, 0, 20, out_path)
                                     for _ in range(args.rounds))
    os.remove(small_path)
    print("640 x 480, fenetre_conseillee: %.2f ms.\n" % small_window)

    # scikit-image at 12 MP: a few runs, it takes seconds.
    mine, theirs = [], []
    for _ in range(3):
        mine.append(ours(args.bench, mid_path, "sauvola", 15, 0.2, 3, out_path))
        theirs.append(timed(lambda: threshold_sauvola(mid, window_size=15, k=0.2), 1))
    sk = (statistics.median(mine), statistics.median(theirs))
    print("12 MP, Sauvola window 15: ours %.1f ms, scikit-image threshold_sauvola (and the "
          "comparison) %.0f ms: %.0f times faster.\n" % (sk[0], sk[1], sk[1] / sk[0]))

    # Whole processes: seuiller on one 48 MP file.
    folder = os.path.join(args.dir, "seuiller-out")
    runs = {}
    for name, argv in (("seuiller 128", [args.seuiller, "-q", "-j1", "128", folder, big_path]),
                       ("seuiller sauvola", [args.seuiller, "-q", "-j1", "sauvola", folder,
                                             big_path])):
        whole_process(argv, 1)  # warm-up
    for _ in range(args.rounds):
        for name, argv in (("seuiller 128", [args.seuiller, "-q", "-j1", "128", folder, big_path]),
                           ("seuiller sauvola", [args.seuiller, "-q", "-j1", "sauvola", folder,
                                                 big_path])):
            runs.setdefault(name, []).append(whole_process(argv, 1))
    fixed_time = statistics.median(t for t, _ in runs["seuiller 128"])
    fixed_peak = statistics.median(p for _, p in runs["seuiller 128"])
    local_time = statistics.median(t for t, _ in runs["seuiller sauvola"])
    local_peak = statistics.median(p for _, p in runs["seuiller sauvola"])
    print("One 48 MP file, whole process, one thread: seuiller 128 %.1f ms and %.1f MiB at its "
          "peak, seuiller sauvola %.1f ms and %.1f MiB.\n"
          % (fixed_time, fixed_peak, local_time, local_peak))

    def ratio(label, peer):
        return results[(label, peer)][2]

    targets = [
        ("48 MP, Otsu / OpenCV THRESH_OTSU", ratio("Otsu", "OpenCV THRESH_OTSU"), "<= 1.00",
         lambda v: v <= 1.0),
    ]
    for window in (15, 75):
        for method in ("Sauvola", "Niblack", "Wolf"):
            targets.append(("48 MP, %s %d / adaptiveThreshold MEAN_C %d" % (method, window, window),
                            ratio("%s, window %d" % (method, window),
                                  "OpenCV adaptiveThreshold MEAN_C %d" % window),
                            "<= 1.00", lambda v: v <= 1.0))
    for method in ("Sauvola", "Niblack", "Wolf"):
        wide = results[("%s, window 75" % method, "OpenCV adaptiveThreshold MEAN_C 75")][0]
        narrow = results[("%s, window 15" % method, "OpenCV adaptiveThreshold MEAN_C 15")][0]
        targets.append(("48 MP, %s window 75 / window 15" % method, wide / narrow, "<= 1.10",
                        lambda v: v <= 1.1))
    targets += [
        ("48 MP, auto / our Sauvola 15", auto_ratio, "<= 1.50", lambda v: v <= 1.5),
        ("48 MP of writing four times as large, auto / our Sauvola 15", large_ratio, "<= 1.50",
         lambda v: v <= 1.5),
        ("48 MP, fenetre_conseillee / our Sauvola 15", window_ratio, "<= 0.30", lambda v: v <= 0.3),
        ("640 x 480, fenetre_conseillee (ms)", small_window, "<= 1.00", lambda v: v <= 1.0),
        ("12 MP, scikit-image Sauvola / ours", sk[1] / sk[0], ">= 100", lambda v: v >= 100),
        ("48 MP file, seuiller sauvola / seuiller 128 (time)", local_time / fixed_time, "<= 2.00",
         lambda v: v <= 2.0),
        ("48 MP file, seuiller sauvola - seuiller 128 (peak MiB)", local_peak - fixed_peak,
         "<= 8.00", lambda v: v <= 8.0),
    ]
    print("| target | measured | goal | met |")
    print("| --- | ---: | ---: | --- |")
    for label, value, goal, met in targets:
        print("| %s | %.2f | %s | %s |" % (label, value, goal, "yes" if met(value) else "no"))
    print("\nEvery output identical to its reference: %s" % ("yes" if exact else "NO"))
    for name in os.listdir(folder):
        os.remove(os.path.join(folder, name))
    os.rmdir(folder)
    for path in (big_path, mid_path, out_path):
        os.remove(path)
    os.rmdir(args.dir)
    return 0 if exact else 1


if __name__ == "__main__":
    sys.exit(main())
