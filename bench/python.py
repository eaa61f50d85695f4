#!/usr/bin/env python3
"""Benchmark of the Python package: the binding's cost over the C function, Sauvola against
scikit-image's, threads against one, and Dask on a 20,000 x 20,000 image against one call on the
whole array, with peak memory. One run; writes its section of bench/README.md.

    PYTHONPATH=build/python /usr/bin/python3 bench/python.py [--no-write]
"""

import argparse
import inspect
import resource
import statistics
import subprocess
import sys
import threading
import time
from pathlib import Path

import numpy as np

import imagefiles
from imagefiles import _imagefiles as _c

HERE = Path(__file__).resolve().parent
SECTION = "python"

sys.path.insert(0, str(HERE))
from thresholds import page  # noqa: E402  the pages of the thresholds' benchmark
import report_section  # noqa: E402


def overhead(shape, method, calls=200):
    """Seconds of a call from Python and of the C function alone (timed inside the module, with
    nothing of Python around it), one of each in turn so that the machine's other load falls on
    both alike; the fastest of each, the call that other processes disturbed least."""
    image = page(*shape, seed=0)
    out = np.empty_like(image)
    ours, theirs = [], []
    for _ in range(calls):
        start = time.perf_counter()
        if method == "threshold_otsu":
            imagefiles.threshold_otsu(image)
        else:
            imagefiles.binarize(image, method, 15, 0.2, out=out)
        ours.append(time.perf_counter() - start)
        theirs += _c._seconds_in_c(image, method, 15, 0.2, out, 1)
    return min(ours), min(theirs)


def against_scikit_image():
    from skimage.filters import threshold_sauvola

    image = page(3000, 4000, seed=0)  # 12 MP
    start = time.perf_counter()
    reference = image > threshold_sauvola(image, window_size=15, k=0.2)
    skimage_seconds = time.perf_counter() - start
    ours = []
    for _ in range(5):
        start = time.perf_counter()
        result = imagefiles.binarize(image, "sauvola", 15, 0.2)
        ours.append(time.perf_counter() - start)
    differ = int(np.count_nonzero((result == 255) != reference))
    return statistics.median(ours), skimage_seconds, differ


def threads(into_out, pages=32, workers=4):
    """Wall time of `pages` A4 pages binarised by one thread, and by `workers` threads each taking
    its share, the fastest of five alternations; with the processor time that each used, whose
    ratio to the wall time is the number of cores the run had (the interpreter's lock released,
    threads use as many as the machine gives)."""
    images = [page(1754, 1240, seed=s) for s in range(pages)]
    outs = [np.empty_like(image) if into_out else None for image in images]

    def work(share):
        for image, out in share:
            imagefiles.binarize(image, "sauvola", out=out)

    results = {}
    for n in (1, workers) * 5:
        shares = [list(zip(images, outs))[i::n] for i in range(n)]
        start, processor = time.perf_counter(), time.process_time()
        running = [threading.Thread(target=work, args=(s,)) for s in shares]
        for t in running:
            t.start()
        for t in running:
            t.join()
        wall = time.perf_counter() - start
        results.setdefault(n, []).append((wall, (time.process_time() - processor) / wall))
    return min(results[1]), min(results[workers])


DASK_CHILD = r"""
import resource, sys, time
import numpy as np
{page}
import imagefiles, imagefiles.dask
import dask, dask.array as da
side, chunk, how, method = {side}, {chunk}, {how!r}, {method!r}
tile = page(2000, 2000, 0)
image = np.tile(tile, (side // 2000, side // 2000))
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
start = time.perf_counter()
if how == "whole":
    result = imagefiles.binarize(image, method)
else:
    result = np.empty_like(image)
    with dask.config.set(scheduler="threads", num_workers=2):
        da.store(imagefiles.dask.binarize(da.from_array(image, chunks=chunk), method), result, lock=False)
seconds = time.perf_counter() - start
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print(seconds, before, peak, int(result[::97, ::89].sum()))
"""


def dask_run(how, method="sauvola", side=20000, chunk=2000):
    code = DASK_CHILD.format(page=inspect.getsource(page), side=side, chunk=chunk, how=how, method=method)
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout.split()
    seconds, before, peak, check = float(out[0]), int(out[1]), int(out[2]), int(out[3])
    return seconds, before / 1024, peak / 1024, check


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--no-write", action="store_true", help="print the section only")
    args = parser.parse_args()

    with report_section.section(SECTION, "bench/python.py") as out:
        out.write = not args.no_write
        measure()


def measure():
    """Prints the report: one table of measures against their references and targets."""
    lines = ["Python %s, one run." % sys.version.split()[0], ""]
    lines += ["| Measure | Python | Reference | Ratio | Target |", "|---|---:|---:|---:|---|"]
    verdicts = []
    for shape, label in (((1754, 1240), "A4 1240 x 1754"), ((480, 640), "640 x 480")):
        for method in ("sauvola", "otsu", "threshold_otsu", "auto"):
            ours, c = overhead(shape, method)
            ratio = ours / c - 1
            verdicts.append(ratio <= 0.05)
            name = "threshold_otsu(a)" if method == "threshold_otsu" else 'binarize(a, "%s")' % method
            lines.append("| call cost, %s, %s | %.1f us | C %.1f us | %+.1f%% | at most +5%% |" % (
                name, label, ours * 1e6, c * 1e6, ratio * 100))
    ours, theirs, differ = against_scikit_image()
    verdicts.append(theirs / ours >= 50)
    lines.append("| Sauvola 15, k 0.2, 12 MP (%d pixels differ) | %.1f ms | scikit-image %.0f ms | %.0fx faster | at least 50x |" % (
        differ, ours * 1e3, theirs * 1e3, theirs / ours))
    for into_out, how in ((True, "each into its out array"), (False, "each into a new array")):
        (one, one_cores), (four, four_cores) = threads(into_out)
        if into_out:
            verdicts.append(one / four >= 1.7)
        lines.append("| 32 A4 pages, Sauvola, %s: 4 threads against 1 (cores used: %.2f against %.2f) | %.0f ms | 1 thread %.0f ms | %.2fx faster | %s |" % (
            how, four_cores, one_cores, four * 1e3, one * 1e3, one / four, "at least 1.7x" if into_out else "reported"))
    whole = dask_run("whole")
    chunked = dask_run("dask")
    if whole[3] != chunked[3]:
        raise SystemExit("the Dask result differs from the whole-array call")
    verdicts.append(chunked[0] / whole[0] <= 1.5)
    lines.append("| Sauvola, 20,000 x 20,000, Dask in 2,000 x 2,000 chunks (2 threads) against one call | %.2f s | whole array %.2f s | %.2fx the time | at most 1.5x |" % (
        chunked[0], whole[0], chunked[0] / whole[0]))
    lines.append("| peak memory of that process: Dask against one call (the image itself: 400 MB) | %.0f MB | %.0f MB | %.2fx | reported |" % (
        chunked[2], whole[2], chunked[2] / whole[2]))
    # auto's statistics take the array a band of chunks at a time, once for each of their passes.
    whole = dask_run("whole", "auto")
    chunked = dask_run("dask", "auto")
    if whole[3] != chunked[3]:
        raise SystemExit("the Dask result of auto differs from the whole-array call")
    lines.append("| auto, 20,000 x 20,000, Dask in 2,000 x 2,000 chunks (2 threads) against one call | %.2f s | whole array %.2f s | %.2fx the time | reported |" % (
        chunked[0], whole[0], chunked[0] / whole[0]))
    lines.append("| peak memory of that process: Dask auto against one call | %.0f MB | %.0f MB | %.2fx | reported |" % (
        chunked[2], whole[2], chunked[2] / whole[2]))
    lines += ["", "Targets met: %d of %d." % (sum(verdicts), len(verdicts))]
    print("\n".join(lines))


if __name__ == "__main__":
    main()
