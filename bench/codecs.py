#!/usr/bin/env python3
"""The formats benchmark (see bench/codecs.sh), which writes its section of bench/README.md.

1. A batch of A4 scans (1240 x 1754, 8-bit grey PNG, made here: paper with a shadow, lines of
   dark strokes and sensor noise) to 1-bit PNG: seuiller -j 2 -t png otsu, against libvips
   (vips relational_const ... moreeq 128, saved at bitdepth=1) and ImageMagick (mogrify
   -threshold 50% to a 1-bit grey PNG), both on two processes at once. The peers get a fixed
   threshold, which costs them less than Otsu.
2. Where the time goes: one scan read by the library (read_bench) against seuiller on it alone.
3. A 48 MP TIFF (8000 x 6000) read, uncompressed grey and LZW colour: read_bench (the page read
   into a greymap, colour through the luma rule, then every pixel summed) against vips avg (the
   page decoded and every pixel summed); medians of --runs runs, each a new process.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

import numpy as np
from PIL import Image

WIDTH, HEIGHT = 1240, 1754


def scan(seed):
    """An A4 page at 150 dpi: paper with a shadow, lines of strokes, noise."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:HEIGHT, 0:WIDTH]
    paper = 225 - 40 * (x / WIDTH) * (y / HEIGHT) - 15 * np.exp(-((x - 100) / 200.0) ** 2)
    page = paper + rng.normal(0, 6, (HEIGHT, WIDTH))
    ink = np.zeros((HEIGHT, WIDTH), dtype=bool)
    for line in range(120, HEIGHT - 120, 36):
        strokes = rng.random(WIDTH) < 0.35
        strokes[:100] = strokes[-100:] = False
        for dy in range(4, 22):
            ink[line + dy] |= strokes & (rng.random(WIDTH) < 0.8)
    page[ink] = 40 + rng.normal(0, 10, ink.sum())
    return np.clip(page, 0, 255).astype(np.uint8)


def run(argv, env=None):
    result = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    if result.returncode != 0:
        sys.exit(f"{' '.join(map(str, argv))}: status {result.returncode}\n"
                 f"{result.stderr.decode()[-2000:]}")
    return result.stdout


def timed(step):
    start = time.perf_counter()
    step()
    return time.perf_counter() - start


def median(step, runs):
    return statistics.median(timed(step) for _ in range(runs))


def in_parallel(commands, env=None):
    """Runs the commands two at a time, as the two processors allow."""
    running = []
    for argv in commands:
        running.append(subprocess.Popen(argv, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.PIPE, env=env))
        if len(running) == 2:
            finish(running.pop(0))
    for process in running:
        finish(process)


def finish(process):
    if process.wait() != 0:
        sys.exit(f"{process.args}: status {process.returncode}\n{process.stderr.read()[-2000:]}")


def check_bilevel(folder, expected):
    names = sorted(os.listdir(folder))
    if len(names) != expected:
        sys.exit(f"{folder}: {len(names)} files, {expected} expected")
    with Image.open(os.path.join(folder, names[0])) as image:
        if image.mode != "1" or image.size != (WIDTH, HEIGHT):
            sys.exit(f"{folder}/{names[0]}: {image.mode} {image.size}, not a 1-bit page")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seuiller", required=True)
    parser.add_argument("--read-bench", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--pages", type=int, default=200)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--readme", default=os.path.join(os.path.dirname(__file__), "README.md"))
    args = parser.parse_args()
    work = args.work
    shutil.rmtree(work, ignore_errors=True)
    scans = os.path.join(work, "scans")
    os.makedirs(scans)
    try:
        report = measure(args, work, scans)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(report, end="")
    write_section(args.readme, report)


def measure(args, work, scans):
    # Twenty different pages, each saved ten times under its own name (every file is decoded
    # on its own).
    distinct = [scan(seed) for seed in range(20)]
    names = []
    for i in range(args.pages):
        name = os.path.join(scans, f"page-{i:03d}.png")
        if i < len(distinct):
            Image.fromarray(distinct[i], "L").save(name)
        else:
            shutil.copyfile(os.path.join(scans, f"page-{i % len(distinct):03d}.png"), name)
        names.append(name)
    megabytes = sum(os.path.getsize(n) for n in names) / 1e6

    def ours():
        out = os.path.join(work, "ours")
        shutil.rmtree(out, ignore_errors=True)
        run([args.seuiller, "-q", "-j", "2", "-t", "png", "otsu", out] + names)
        return out

    def vips():
        out = os.path.join(work, "vips")
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        in_parallel([["vips", "relational_const", n,
                      os.path.join(out, os.path.basename(n)) + "[bitdepth=1]", "moreeq", "128"]
                     for n in names])
        return out

    one_thread = dict(os.environ, OMP_NUM_THREADS="1")

    def magick():
        out = os.path.join(work, "magick")
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        half = len(names) // 2
        in_parallel([["mogrify", "-path", out, "-threshold", "50%", "-define", "png:bit-depth=1",
                      "-define", "png:color-type=0"] + part
                     for part in (names[:half], names[half:])], env=one_thread)
        return out

    batch_runs = max(1, min(args.runs, 3))
    times = {}
    for label, step in (("ours", ours), ("vips", vips), ("magick", magick)):
        times[label] = median(step, batch_runs)
    for label in ("ours", "vips", "magick"):
        check_bilevel(os.path.join(work, label), args.pages)

    # Where the time goes on one page.
    page = names[0]
    single = os.path.join(work, "single")
    read_one = median(lambda: run([args.read_bench, page]), args.runs)
    whole_one = median(lambda: run([args.seuiller, "-q", "-j", "1", "-t", "png", "otsu", single,
                                    page]), args.runs)

    # A 48 MP page, uncompressed grey and LZW colour.
    big = np.tile(distinct[0], (4, 7))[:6000, :8000]
    grey_tif = os.path.join(work, "page-48mp-grey.tif")
    colour_tif = os.path.join(work, "page-48mp-rgb-lzw.tif")
    Image.fromarray(big, "L").save(grey_tif)
    rgb = np.stack([big, np.roll(big, 3, axis=1), np.roll(big, 7, axis=0)], axis=2)
    Image.fromarray(rgb, "RGB").save(colour_tif, compression="tiff_lzw")
    reads = []
    for label, path in (("8-bit grey, uncompressed", grey_tif), ("RGB, LZW", colour_tif)):
        ours_read = median(lambda: run([args.read_bench, path]), args.runs)
        vips_read = median(lambda: run(["vips", "avg", path]), args.runs)
        reads.append((label, os.path.getsize(path) / 1e6, ours_read, vips_read))

    n = args.pages
    lines = [
        "## Files people have: PNG scans to 1-bit PNG, and a 48 MP TIFF read",
        "",
        f"{n} A4 scans (1240 x 1754, 8-bit grey PNG, {megabytes:.0f} MB in all) to 1-bit PNG, "
        f"two processors; median of {batch_runs} runs:",
        "",
        "| command | time | pages/s | ours is faster by |",
        "| --- | ---: | ---: | ---: |",
        f"| `seuiller -j 2 -t png otsu` | {times['ours']:.2f} s | {n / times['ours']:.1f} | |",
        f"| `vips relational_const ... moreeq 128` to `[bitdepth=1]`, two at a time | "
        f"{times['vips']:.2f} s | {n / times['vips']:.1f} | {times['vips'] / times['ours']:.2f} x |",
        f"| `mogrify -threshold 50%` to a 1-bit PNG, two processes | {times['magick']:.2f} s | "
        f"{n / times['magick']:.1f} | {times['magick'] / times['ours']:.2f} x |",
        "",
        f"One scan alone: reading it into a greymap takes {read_one * 1000:.0f} ms of the "
        f"{whole_one * 1000:.0f} ms that `seuiller -j 1 -t png otsu` takes for it "
        f"({100 * read_one / whole_one:.0f} %, process start included in both): PNG decoding "
        "(zlib) dominates; the threshold and the 1-bit PNG write take the rest.",
        "",
        f"A 48 MP page (8000 x 6000) read, median of {args.runs} runs, a new process each: "
        "`read_bench` (charger_image_grise, then every pixel summed) against `vips avg`:",
        "",
        "| file | size | ours | vips | ours / vips |",
        "| --- | ---: | ---: | ---: | ---: |",
    ]
    for label, size, ours_read, vips_read in reads:
        lines.append(f"| {label} | {size:.0f} MB | {ours_read:.3f} s | {vips_read:.3f} s | "
                     f"{ours_read / vips_read:.2f} |")
    lines += ["", "The colour page is also taken to grey by the luma rule in our read; vips "
              "averages the three bands as they are.", ""]
    return "\n".join(lines) + "\n"


def write_section(readme, report):
    begin, end = "<!-- begin codecs -->", "<!-- end codecs -->"
    text = open(readme).read() if os.path.exists(readme) else "# Benchmarks\n"
    section = f"{begin}\n{report}{end}"
    if begin in text and end in text:
        text = text[:text.index(begin)] + section + text[text.index(end) + len(end):]
    else:
        text = text.rstrip("\n") + "\n\n" + section + "\n"
    with open(readme, "w") as out:
        out.write(text)


if __name__ == "__main__":
    main()
