#!/usr/bin/env python3
"""Pages larger than memory: seuiller's peak memory and speed in bands, written into
bench/README.md between the markers of its section.

    python3 bench/bands.py --seuiller build-bench/tools/seuiller \
        [--whole build-bench/main/build/tools/seuiller] [--whole-formats SEUILLER] \
        --disk build-bench/bands [--side 60000] [--format-side 20000]

Measured with /usr/bin/time -v, one thread (-j 1), every method:
- a side x side greymap on disk (the page cache holds it after the first run), written as a bitmap:
  peak resident memory, and throughput in MB of greymap a second, beside libvips's threshold of the
  same file (vips relational_const ... moreeq 128) when vips is installed;
- a 1 x 50,000,000 greymap: peak memory of each method against the fixed threshold's;
- a 48 MP greymap in /dev/shm and on the disk: `seuiller -b 128` against `seuiller 128`, and the
  streamed runs against the whole-raster seuiller given with --whole (medians of --runs runs);
- a --format-side x --format-side page (20,000 by default) as a PNG, a striped TIFF and a tiled
  TIFF, made by vips from a greymap, written as a PNG or a TIFF: peak memory and time, beside
  the seuiller given with --whole-formats, which reads them whole.
The big files are made by writing one period of rows again and again, and removed at the end.
"""

import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import report_section  # noqa: E402

METHODS = [["128"], ["otsu"], ["sauvola"], ["niblack"], ["wolf"], ["auto"], ["-f", "183", "sauvola"]]


def generate(path, width, height):
    """A greymap of strokes on a ramp: one period of 64 rows written again and again."""
    period = []
    for y in range(64):
        row = bytearray(((x * 7 + y * 13) & 127) + 64 for x in range(min(width, 65536)))
        for x in range(0, len(row), 9):
            if (y // 8) % 2 == 0:
                row[x] = 20
        period.append(bytes(row))
    with open(path, "wb") as out:
        out.write(b"P5\n%d %d\n255\n" % (width, height))
        block = b"".join((period[y % 64] * (width // len(period[0]) + 1))[:width]
                         for y in range(64))
        full, rest = divmod(height, 64)
        for _ in range(full):
            out.write(block)
        out.write(block[:rest * width])


def measured(argv, refused=None):
    """Elapsed seconds and peak resident KiB of one run. A run that fails ends the benchmark, but
    where `refused` (a list) is given: its message goes there and the figures are None."""
    start = time.perf_counter()
    result = subprocess.run(["/usr/bin/time", "-v"] + argv, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True)
    elapsed = time.perf_counter() - start
    if result.returncode != 0:
        if refused is not None:
            # The command's message (its first line on standard error), without the file's path.
            said = result.stderr.splitlines()[0] if result.stderr.strip() else ""
            refused.append(said.split(" /")[0].removeprefix("seuiller: ") or
                           f"status {result.returncode}")
            return None, None
        sys.exit(f"{' '.join(argv)}: status {result.returncode}\n{result.stderr[-2000:]}")
    peak = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", result.stderr).group(1))
    return elapsed, peak


def paired_medians(first, second, runs):
    """Medians of `runs` runs of each command, run in turn (first, second, first, ...) after one
    run of each as a warm-up, so that a load that comes and goes weighs on both alike."""
    measured(first)
    measured(second)
    times = [(measured(first)[0], measured(second)[0]) for _ in range(runs)]
    return statistics.median(t[0] for t in times), statistics.median(t[1] for t in times)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--seuiller", required=True)
    parser.add_argument("--whole", help="a seuiller that reads the whole raster, to compare with")
    parser.add_argument("--whole-formats", help="a seuiller that reads PNG and TIFF whole")
    parser.add_argument("--disk", required=True)
    parser.add_argument("--side", type=int, default=60000)
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--format-side", type=int, default=20000)
    parser.add_argument("--readme", default=report_section.README)
    args = parser.parse_args()
    s = os.path.abspath(args.seuiller)
    disk = os.path.abspath(args.disk)
    shutil.rmtree(disk, ignore_errors=True)
    os.makedirs(disk)
    lines = []
    try:
        # The big page, on disk.
        need = 2 * args.side * args.side
        free = shutil.disk_usage(disk).free
        if free < need + (1 << 30):
            sys.exit(f"{disk}: {free >> 20} MiB free, {need >> 20} MiB needed")
        big = os.path.join(disk, "page.pgm")
        generate(big, args.side, args.side)
        mb = args.side * args.side / 1e6
        lines += [f"A {args.side:,} x {args.side:,} greymap ({mb / 1000:.1f} GB) on disk "
                  f"(the page cache holds it), written as a bitmap with `seuiller -j 1 -b`:", "",
                  "| method | peak memory | time | throughput |", "| --- | ---: | ---: | ---: |"]
        out = os.path.join(disk, "out")
        os.makedirs(out)
        subprocess.run(["cat", big], stdout=subprocess.DEVNULL, check=True)  # into the cache
        worst = 0
        for method in METHODS:
            # A method that cannot take the page says so in its row.
            refused = []
            elapsed, peak = measured([s, "-q", "-j", "1", "-b"] + method + [out, big], refused)
            if refused:
                lines.append(f"| {' '.join(method)} | refused: {refused[0]} | | |")
                continue
            worst = max(worst, peak)
            lines.append(f"| {' '.join(method)} | {peak / 1024:.1f} MiB | {elapsed:.1f} s | "
                         f"{mb / elapsed:.0f} MB/s |")
        if shutil.which("vips"):
            elapsed, peak = measured(["vips", "relational_const", big,
                                      os.path.join(out, "vips.pgm"), "moreeq", "128"])
            lines.append(f"| vips relational_const moreeq 128 (greymap out) | {peak / 1024:.1f} MiB | "
                         f"{elapsed:.1f} s | {mb / elapsed:.0f} MB/s |")
        os.remove(big)
        shutil.rmtree(out)
        os.makedirs(out)

        # One very wide row.
        wide = os.path.join(disk, "wide.pgm")
        generate(wide, 50_000_000, 1)
        lines += ["", "A 1 x 50,000,000 greymap, `seuiller -j 1` (greymap out):", "",
                  "| method | peak memory | against `128` |", "| --- | ---: | ---: |"]
        fixed = None
        worst_wide = 0
        for method in METHODS:
            _, peak = measured([s, "-q", "-j", "1"] + method + [out, wide])
            fixed = fixed or peak
            worst_wide = max(worst_wide, peak / fixed)
            lines.append(f"| {' '.join(method)} | {peak / 1024:.1f} MiB | {peak / fixed:.2f} |")
        os.remove(wide)

        # 48 MP, in memory and on disk.
        rows = []
        ratios = {}
        for place in ("/dev/shm/imagefiles-bands", disk):
            shutil.rmtree(place, ignore_errors=True) if place != disk else None
            os.makedirs(os.path.join(place, "o"), exist_ok=True)
            page = os.path.join(place, "in-48mp.pgm")
            generate(page, 8000, 6000)
            o = os.path.join(place, "o")
            grey, bits = paired_medians([s, "-q", "-j", "1", "128", o, page],
                                        [s, "-q", "-j", "1", "-b", "128", o, page], args.runs)
            ratios[place] = grey / bits
            # The folder as the command line gave it: no path of this machine in the report.
            shown = place if place != disk else os.path.relpath(disk)
            rows.append(f"| {shown}: `seuiller 128` / `seuiller -b 128` | {grey * 1e3:.0f} ms / "
                        f"{bits * 1e3:.0f} ms | {grey / bits:.2f} (goal >= 1.3) |")
            if args.whole:
                for method in (["128"], ["sauvola"], ["wolf"]):
                    streamed, whole = paired_medians(
                        [s, "-q", "-j", "1"] + method + [o, page],
                        [os.path.abspath(args.whole), "-q", "-j", "1"] + method + [o, page],
                        args.runs)
                    rows.append(f"| {shown}: `seuiller {' '.join(method)}` streamed / whole raster "
                                f"| {streamed * 1e3:.0f} ms / {whole * 1e3:.0f} ms | "
                                f"{streamed / whole:.2f} (goal <= 1.1) |")
            shutil.rmtree(place) if place != disk else os.remove(page)
        lines += ["", f"A 48 MP greymap (8000 x 6000), one thread, medians of {args.runs} runs of "
                  "each command, the two run in turn:", "",
                  "| runs | times | ratio |", "| --- | ---: | ---: |"] + rows
        # PNG and TIFF pages, decoded a row, a strip or a row of tiles at a time.
        if shutil.which("vips"):
            side = args.format_side
            page = os.path.join(disk, "format.pgm")
            generate(page, side, side)
            inputs = [("PNG", "page.png", ["pngsave", page, "{}", "--compression", "1"], "png"),
                      ("TIFF, strips (LZW)", "strips.tif",
                       ["tiffsave", page, "{}", "--compression", "lzw"], "tiff"),
                      ("TIFF, 256 x 256 tiles (LZW)", "tiles.tif",
                       ["tiffsave", page, "{}", "--compression", "lzw", "--tile",
                        "--tile-width", "256", "--tile-height", "256"], "tiff")]
            for _, name, command, _ in inputs:
                made = os.path.join(disk, name)
                subprocess.run(["vips"] + [made if a == "{}" else a for a in command], check=True)
            os.remove(page)
            smb = side * side / 1e6
            lines += ["", f"A {side:,} x {side:,} page ({smb:.0f} MP) made by vips, `seuiller -j 1 "
                      f"-t png` or `-t tiff` (a 1-bit PNG, a Group 4 TIFF):", "",
                      "| input | method | peak memory | time |", "| --- | --- | ---: | ---: |"]
            for label, name, _, output in inputs:
                for method in (["128"], ["sauvola"], ["wolf"]):
                    elapsed, peak = measured([s, "-q", "-j", "1", "-t", output] + method +
                                             [out, os.path.join(disk, name)])
                    lines.append(f"| {label} | {' '.join(method)} | {peak / 1024:.1f} MiB | "
                                 f"{elapsed:.2f} s |")
            if args.whole_formats:
                for label, name, _, output in inputs[:2]:
                    elapsed, peak = measured([os.path.abspath(args.whole_formats), "-q", "-j", "1",
                                              "-t", output, "128", out,
                                              os.path.join(disk, name)])
                    lines.append(f"| {label}, read whole (before) | 128 | {peak / 1024:.1f} MiB | "
                                 f"{elapsed:.2f} s |")
            for _, name, _, _ in inputs:
                os.remove(os.path.join(disk, name))
            lines += ["", "An interlaced PNG is decoded whole (its passes fill the page), and a "
                      "JPEG or a Netpbm file other than an 8-bit greymap is read whole first."]

        lines += ["", f"Largest peak on the big page: {worst / 1024:.1f} MiB (goal <= 64 MiB); "
                  f"on the wide row: {worst_wide:.2f} x the fixed threshold's (goal <= 2)."]
    finally:
        shutil.rmtree(disk, ignore_errors=True)
        shutil.rmtree("/dev/shm/imagefiles-bands", ignore_errors=True)
    with report_section.section("bands", "bench/bands.sh", path=args.readme):
        print("\n".join(lines))


if __name__ == "__main__":
    main()
