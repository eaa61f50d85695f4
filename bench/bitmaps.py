#!/usr/bin/env python3
"""Bitmap output and pipelines, in memory-backed /dev/shm and on the disk the build is on: prints
a Markdown report.

    python3 bench/bitmaps.py --seuiller build-bench/tools/seuiller \
        --copy-floor build-bench/bench/copy_floor --disk build-bench/bitmaps [--runs N]

For each place: 1,000 greymaps of 640 x 480 through `seuiller -j 2 -b 128` against
`seuiller -j 2 128` and against the copy floor writing eighth-size files; one 48 MP greymap through
`seuiller -b 128` against `seuiller 128`, and through a pipeline (`cat in.pgm | seuiller 128 - -
> out.pgm`) against `seuiller 128 out in.pgm`. Every bitmap is first checked to hold the greymap's
pixels. Runs alternate, medians are given; the report goes into bench/README.md. On the disk, a system-call count (strace -c) says what
the batch's time is made of, and new outputs are timed against replaced ones (ext4 forces the data
of a file renamed over another out to the disk: auto_da_alloc). Only the standard library is used.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from run import generate, read_raster  # noqa: E402  (the main benchmark's helpers)
import report_section  # noqa: E402

FILES, WIDTH, HEIGHT = 1000, 640, 480


def cell(text):
    """Text for a Markdown table's cell: a command's pipe must not end the cell."""
    return text.replace("|", "\\|")


def file_system(path):
    """The type of the file system `path` is on, from the mount table (the longest mount point
    that holds it)."""
    path = os.path.realpath(path)
    best, kind = "", "?"
    with open("/proc/self/mounts") as mounts:
        for line in mounts:
            fields = line.split()
            point = fields[1].replace("\\040", " ")
            if (path == point or path.startswith(point.rstrip("/") + "/")) and len(point) > len(best):
                best, kind = point, fields[2]
    return kind


def timed(argv, stdin=None, stdout=None):
    start = time.perf_counter()
    with open(stdin or os.devnull, "rb") as i, open(stdout or os.devnull, "wb") as o:
        status = subprocess.run(argv, stdin=i, stdout=o, stderr=subprocess.PIPE).returncode
    elapsed = time.perf_counter() - start
    if status != 0:
        sys.exit(f"{argv[:4]} ended with status {status}")
    return elapsed


def compare(commands, runs):
    """Medians (ms) of alternating runs, after one warm-up of each."""
    for argv, stdin, stdout in commands.values():
        timed(argv, stdin, stdout)
    times = {name: [] for name in commands}
    for _ in range(runs):
        for name, (argv, stdin, stdout) in commands.items():
            times[name].append(timed(argv, stdin, stdout))
    return {name: statistics.median(t) * 1e3 for name, t in times.items()}


def place(label, folder, args):
    """The report for one folder; returns the targets measured there."""
    shutil.rmtree(folder, ignore_errors=True)
    inputs = os.path.join(folder, "in")
    os.makedirs(inputs)
    files = [os.path.join(inputs, f"img-{k:04d}.pgm") for k in range(FILES)]
    for k, path in enumerate(files):
        generate(path, WIDTH, HEIGHT, shift=k * 31)
    big = os.path.join(folder, "in-48mp.pgm")
    generate(big, 8000, 6000)
    out = {name: os.path.join(folder, name) for name in ("pgm", "pbm", "floor", "one", "pipe")}
    for path in out.values():
        os.makedirs(path)
    s, floor = args.seuiller, args.copy_floor

    # The bitmaps hold the greymaps' pixels.
    subprocess.run([s, "-q", "-j2", "128", out["pgm"]] + files[:20] + [big], check=True)
    subprocess.run([s, "-q", "-j2", "-b", "128", out["pbm"]] + files[:20] + [big], check=True)
    for path in files[:20] + [big]:
        name = os.path.basename(path)[:-4]
        if read_raster(os.path.join(out["pgm"], name + ".pgm")) != \
                read_raster(os.path.join(out["pbm"], name + ".pbm")):
            sys.exit(f"{label}: the bitmap of {name} differs from its greymap")

    batch = compare({
        "seuiller -j 2 128": ([s, "-q", "-j2", "128", out["pgm"]] + files, None, None),
        "seuiller -j 2 -b 128": ([s, "-q", "-j2", "-b", "128", out["pbm"]] + files, None, None),
        "copy floor -j 2, eighth-size outputs": ([floor, "-j", "2", "-e", out["floor"]] + files,
                                                 None, None),
    }, args.runs)
    single = compare({
        "seuiller 128": ([s, "-q", "128", out["one"], big], None, None),
        "seuiller -b 128": ([s, "-q", "-b", "128", out["one"], big], None, None),
        "cat in.pgm | seuiller 128 - - > out.pgm": (
            ["/bin/sh", "-c", 'cat "$1" | "$0" 128 - -', s, big], None,
            os.path.join(out["pipe"], "out.pgm")),
    }, args.runs)
    # The folder as the command line gave it: no path of this machine in the report.
    shown = os.path.relpath(folder) if label == "disk" else folder
    print(f"\n#### {label}: {shown} ({file_system(folder)})\n")
    print(f"{FILES} greymaps of {WIDTH} x {HEIGHT} (medians of {args.runs} alternating runs):\n")
    print("| command | median |")
    print("| --- | ---: |")
    for name, ms in batch.items():
        print(f"| {cell(name)} | {ms:.1f} ms |")
    print("\nOne greymap of 8000 x 6000 (48 MP):\n")
    print("| command | median |")
    print("| --- | ---: |")
    for name, ms in single.items():
        print(f"| {cell(name)} | {ms:.1f} ms |")
    targets = [
        (f"{label}: batch, seuiller -j 2 128 / seuiller -j 2 -b 128",
         batch["seuiller -j 2 128"] / batch["seuiller -j 2 -b 128"], ">=", 1.5),
        (f"{label}: batch, seuiller -j 2 -b 128 / copy floor (eighth-size)",
         batch["seuiller -j 2 -b 128"] / batch["copy floor -j 2, eighth-size outputs"], "<=", 1.25),
        (f"{label}: 48 MP, seuiller 128 / seuiller -b 128",
         single["seuiller 128"] / single["seuiller -b 128"], ">=", 1.3),
        (f"{label}: 48 MP, pipeline / seuiller 128",
         single["cat in.pgm | seuiller 128 - - > out.pgm"] / single["seuiller 128"], "<=", 1.3),
    ]
    if args.strace and shutil.which("strace") and label == "disk":
        # What the batch's time is made of, by system call.
        result = subprocess.run(["strace", "-c", "-f", "-o", os.path.join(folder, "strace.txt"),
                                 s, "-q", "-j2", "-b", "128", out["pbm"]] + files,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if result.returncode == 0:
            lines = open(os.path.join(folder, "strace.txt")).read().splitlines()
            print("\nSystem calls of `seuiller -j 2 -b 128` on the batch, replacing its outputs "
                  "(strace -c -f, slowed by the tracing; the largest shares):\n")
            print("```text")
            print("\n".join(lines[:2] + lines[2:10] + lines[-2:]))
            print("```")
        # New outputs against replaced ones.
        fresh = os.path.join(folder, "fresh")
        news, replaced = [], []
        for _ in range(args.runs):
            shutil.rmtree(fresh, ignore_errors=True)
            os.makedirs(fresh)
            news.append(timed([s, "-q", "-j2", "128", fresh] + files))
            replaced.append(timed([s, "-q", "-j2", "128", fresh] + files))
        print(f"\nThe batch into an empty folder (new outputs) takes "
              f"{statistics.median(news) * 1e3:.1f} ms, into the same folder again (every output "
              f"replaced) {statistics.median(replaced) * 1e3:.1f} ms.")
    shutil.rmtree(folder, ignore_errors=True)
    return targets


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--seuiller", required=True)
    parser.add_argument("--copy-floor", required=True)
    parser.add_argument("--disk", required=True, help="a folder on the disk to time in")
    parser.add_argument("--shm", default="/dev/shm/imagefiles-bitmaps")
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--no-strace", dest="strace", action="store_false")
    args = parser.parse_args()
    args.seuiller = os.path.abspath(args.seuiller)
    args.copy_floor = os.path.abspath(args.copy_floor)
    with report_section.section("bitmaps", "bench/bitmaps.sh") as report:
        report.write = args.strace
        targets = place("/dev/shm", args.shm, args) + place("disk", os.path.abspath(args.disk),
                                                             args)
        print("\n| target | measured | goal | met |")
        print("| --- | ---: | ---: | --- |")
        for label, value, sense, goal in targets:
            met = value >= goal if sense == ">=" else value <= goal
            print(f"| {label} | {value:.2f} | {sense} {goal:.2f} | {'yes' if met else 'no'} |")


if __name__ == "__main__":
    main()
