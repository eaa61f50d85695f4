#!/usr/bin/env python3
"""Times test_grey as a whole process against the floor (dd: one read, one write) and against the
general-purpose image tools installed here, and writes a Markdown report (shown as it runs) into
bench/README.md, in three parts: one greymap (--greymap-only), many files (--batch-only), the
previous release (--baseline-only); a --quick run is shown only.

    bench/run.py [--test-grey PATH] [--dir DIR] [--threshold T] [--quick]

For every case the inputs are generated first. Before anything is timed, each peer's output raster
is compared with test_grey's; a peer whose raster differs is reported and not timed. Runs alternate
(test_grey, peer, test_grey, peer, ...) after one warm-up run of each, and the report gives medians,
the ratio of each pair and each command's peak resident memory. Only the standard library is used.
"""

import argparse
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import time

MIB = 1 << 20
PEER_TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                          "peer_tools.txt")
GNU_TIME = "/usr/bin/time"

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import report_section  # noqa: E402


def generate(path, width, height, shift=0):
    """A greymap with a standard header and samples spread over 0..255, rows shifted one from
    another so that no two neighbouring rows are alike; `shift` makes another picture."""
    if os.path.exists(path) and os.path.getsize(path) > width * height:
        return
    period = 65536
    base = bytes(((i * 7) ^ (i >> 6)) & 255 for i in range(period + width))
    rows = (base[(y * 97 + shift) % period:(y * 97 + shift) % period + width]
            for y in range(height))
    with open(path, "wb") as out:
        out.write(b"P5\n%d %d\n255\n" % (width, height))
        out.write(b"".join(rows))


def read_raster(path):
    """Width, height and raster of a P5, P4 or P7 file written by any of the tools, one byte a
    pixel, samples scaled to 0..255 (netpbm's black-and-white PAM holds 0 and 1; a bitmap's bit 1,
    black, is 0)."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] == b"P7":
        end = data.index(b"ENDHDR\n") + len(b"ENDHDR\n")
        fields = dict(line.split(b" ", 1) for line in data[3:end - 7].splitlines() if b" " in line)
        width, height = int(fields[b"WIDTH"]), int(fields[b"HEIGHT"])
        maxval = int(fields[b"MAXVAL"])
        raster = data[end:end + width * height]
        if maxval == 1:
            raster = raster.translate(bytes([0, 255]) + bytes(254))
        return width, height, raster
    # P5: magic, then width, height and maximum value, with comments, then one whitespace byte;
    # P4 the same without the maximum value.
    bitmap = data[:2] == b"P4"
    tokens, at = [], 2
    while len(tokens) < (2 if bitmap else 3):
        while data[at:at + 1].isspace():
            at += 1
        if data[at:at + 1] == b"#":
            at = data.index(b"\n", at) + 1
            continue
        start = at
        while data[at:at + 1].isdigit():
            at += 1
        tokens.append(int(data[start:at]))
    width, height = tokens[:2]
    if bitmap:
        stride = (width + 7) // 8
        rows = (data[at + 1 + r * stride:at + 1 + (r + 1) * stride] for r in range(height))
        return width, height, b"".join(
            bytes(0 if row[x // 8] & (0x80 >> (x % 8)) else 255 for x in range(width))
            for row in rows)
    return width, height, data[at + 1:at + 1 + width * height]


def run(argv, stdout=None):
    """Runs a command; returns wall seconds and exit status."""
    actions = [(os.POSIX_SPAWN_OPEN, 0, "/dev/null", os.O_RDONLY, 0),
               (os.POSIX_SPAWN_OPEN, 2, "/dev/null", os.O_WRONLY, 0)]
    if stdout:
        actions.append((os.POSIX_SPAWN_OPEN, 1, stdout, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644))
    else:
        actions.append((os.POSIX_SPAWN_OPEN, 1, "/dev/null", os.O_WRONLY, 0))
    start = time.perf_counter()
    pid = os.posix_spawn(argv[0], argv, os.environ, file_actions=actions)
    _, status = os.waitpid(pid, 0)
    return time.perf_counter() - start, os.waitstatus_to_exitcode(status)


class Command:
    """One competitor: how to run it on an input, where its output goes, its expected status."""

    def __init__(self, name, argv, output, stdout=False, status=0, keep_output=False):
        self.name, self.argv, self.output, self.stdout, self.status = name, argv, output, stdout, status
        self.keep_output = keep_output  # each run then replaces the output of the run before

    def once(self):
        """Runs the command once; returns its wall time in seconds."""
        if os.path.exists(self.output) and not self.keep_output:
            os.unlink(self.output)
        seconds, status = run(self.argv, self.output if self.stdout else None)
        if status != self.status:
            raise RuntimeError(f"{self.name} ended with status {status}")
        return seconds

    def peak_memory(self):
        """Peak resident memory in KiB, from GNU time: a child of this large Python process
        would report this process's memory as its own."""
        if os.path.exists(self.output):
            os.unlink(self.output)
        report = os.path.join(os.path.dirname(self.output), "time-report")
        run([GNU_TIME, "-f", "%M", "-o", report] + self.argv,
            self.output if self.stdout else None)
        with open(report) as f:
            return int(f.read().split()[-1])


class SelfTimed(Command):
    """A program that times its own work and prints the seconds: its figure is what it says."""

    def __init__(self, name, argv, output, report):
        super().__init__(name, argv, output)
        self.report = report

    def once(self):
        if os.path.exists(self.output):
            os.unlink(self.output)
        _, status = run(self.argv, self.report)
        if status != 0:
            raise RuntimeError(f"{self.name} ended with status {status}")
        with open(self.report) as f:
            return float(f.read())


def recognise(tool):
    """The program that is `tool`, as tests/peer_tools.txt describes it and as the
    interoperability tests recognise it: looked for in /usr/bin, then along PATH, the first whose
    version text holds the expected words. None when there is none."""
    with open(PEER_TOOLS) as table:
        for line in table:
            if not line.strip() or line.startswith("#"):
                continue
            name, program, probe, text, _package = (field.strip() for field in line.split(" | "))
            if name != tool:
                continue
            folders = ["/usr/bin"] + os.environ.get("PATH", "/bin").split(":")
            for folder in folders:
                candidate = os.path.join(folder, program)
                if not os.access(candidate, os.X_OK):
                    continue
                said = subprocess.run(["/bin/sh", "-c", probe, candidate], capture_output=True,
                                      text=True).stdout
                if text in said:
                    return candidate
    return None


def program_of(tool, name=None):
    """The recognised program of `tool`, or the program `name` beside it (netpbm is many)."""
    main = recognise(tool)
    return main if main is None or name is None else os.path.join(os.path.dirname(main), name)


def competitors(test_grey, src, out_dir, threshold, with_peers, own=None):
    """test_grey, and what it is measured against: dd, and with `with_peers` the project's own
    programs in `own` (seuiller, the copy floor) and every image tool installed here."""
    size = os.path.getsize(src)
    percent = f"{(threshold - 0.5) / 255 * 100:.6f}%"  # v >= T is v > T - 0.5
    def out(name, ext="pgm"):
        return os.path.join(out_dir, f"out-{name}.{ext}")
    ours = Command("test_grey", [test_grey, src, out("test_grey"), str(threshold)],
                   out("test_grey"), status=1)
    others = [Command("dd (one read, one write)", [shutil.which("dd"), f"if={src}", f"of={out('dd')}",
                                     f"bs={size}", "status=none"], out("dd"))]
    if not with_peers:
        return ours, others
    for name, program in (own or {}).items():
        folder = os.path.join(out_dir, name.split()[0])
        os.makedirs(folder, exist_ok=True)
        output = os.path.join(folder, os.path.basename(src))
        if name == "seuiller -j 1":
            others.append(Command(name, [program, "-q", "-j", "1", str(threshold), folder, src],
                                  output))
        else:  # the copy floor, timing its reading and writing only
            others.append(SelfTimed(name, [program, "-j", "1", "-t", folder, src], output,
                                    os.path.join(out_dir, "floor-seconds")))
    tools = {
        "libvips": lambda p: [p, "relational_const", src, out("vips"), "moreeq", str(threshold)],
        "GraphicsMagick": lambda p: [p, "convert", src, "-threshold", percent, out("gm")],
        "ImageMagick": lambda p: [p, src, "-threshold", percent, out("im")],
    }
    outputs = {"libvips": out("vips"), "GraphicsMagick": out("gm"), "ImageMagick": out("im")}
    for name, argv in tools.items():
        program = program_of(name)
        if program:
            others.append(Command(name, argv(program), outputs[name]))
    if program_of("netpbm"):
        others.append(Command("netpbm", [program_of("netpbm", "pamthreshold"), "-simple",
                                         f"-threshold={(threshold - 0.5) / 255}", src],
                              out("netpbm", "pam"), stdout=True))
    python = program_of("Pillow")
    if python:
        others.append(Command("Pillow", [python, "-c",
                                         "import sys; from PIL import Image; "
                                         "Image.open(sys.argv[1]).point("
                                         f"lambda v: 255 if v >= {threshold} else 0"
                                         ").save(sys.argv[2])", src, out("pillow")],
                              out("pillow")))
    return ours, others


def copies(command):
    """Whether a command copies the file rather than binarising it (dd, the copy floor)."""
    return command.name.startswith(("dd", "copy floor"))


def compare(ours, other):
    """Why the two outputs differ, or None when their rasters are byte-identical."""
    if copies(other):
        return None  # the floor copies; it does not binarise
    try:
        other.once()
    except RuntimeError as e:
        # The tool's own words, for the report: typically a resource policy that refuses the size.
        said = subprocess.run(other.argv, capture_output=True, text=True).stderr
        # Its first line whole (the last of a traceback, which ends with the error), the folders
        # of absolute paths left out; no character that would break the table.
        lines = [line.strip() for line in said.splitlines() if line.strip()]
        line = (lines[-1] if lines[0].startswith("Traceback") else lines[0]) if lines else ""
        words = re.sub(r"(?<![\w.])/(?:[^\s'`\"/]+/)+", "", line) or "no message"
        return f"{e}: " + words.replace("`", "'").replace("|", "/")
    if read_raster(ours.output) != read_raster(other.output):
        return "raster differs"
    return None


def bench_case(label, src, test_grey, out_dir, threshold, runs, with_peers, own=None):
    ours, others = competitors(test_grey, src, out_dir, threshold, with_peers, own)
    ours.once()
    rows = []
    for other in others:
        problem = compare(ours, other)
        if problem:
            rows.append((label, other, None, None, None, None, problem))
            continue
        ours.once()  # warm-up
        other.once()
        a, b = [], []
        for _ in range(runs):
            a.append(ours.once())
            b.append(other.once())
        rows.append((label, other, statistics.median(a), statistics.median(b),
                     ours.peak_memory(), other.peak_memory(),
                     "identical" if not copies(other) else "(copy)"))
    for other in others + [ours]:
        if os.path.exists(other.output):
            os.unlink(other.output)
    return rows


def microbenchmark(program):
    """The binarisation loop against memcpy of the same bytes, in memory (Google Benchmark)."""
    report = json.loads(subprocess.run([program, "--benchmark_format=json",
                                        "--benchmark_repetitions=5",
                                        "--benchmark_report_aggregates_only=true"],
                                       capture_output=True, check=True, text=True).stdout)
    medians = {b["run_name"]: b for b in report["benchmarks"] if b.get("aggregate_name") == "median"}
    print("| in memory | binarise | memcpy | binarise / memcpy (time) |")
    print("| --- | ---: | ---: | ---: |")
    for size, label in [(640 * 480, "640 x 480"), (8000 * 6000, "48 MP")]:
        loop, copy = medians[f"BM_Binarise/{size}"], medians[f"BM_Memcpy/{size}"]
        print(f"| {label} | {loop['bytes_per_second'] / 1e9:.1f} GB/s | "
              f"{copy['bytes_per_second'] / 1e9:.1f} GB/s | "
              f"{loop['real_time'] / copy['real_time']:.2f} |")
    print()
    return loop["real_time"] / copy["real_time"]


def against_baseline(test_grey, baseline, name, directory, threshold, runs):
    """This build against the previous release, at 48 MP and 256 MiB, writing a new output and
    replacing an existing one; runs alternate. Returns {(case, existing): ratio}."""
    print(f"\nThis build against the previous release, {name} (median of {runs} alternating runs; "
          "ratio below 1: this build is faster):\n")
    print("| case | output | this build | previous release | ratio |")
    print("| --- | --- | ---: | ---: | ---: |")
    ratios = {}
    for label, width, height in [("48 MP", 8000, 6000), ("256 MiB", 16384, 16384)]:
        src = os.path.join(directory, f"in-{width}x{height}.pgm")
        generate(src, width, height)
        for existing in (False, True):
            def command(program, who):
                out = os.path.join(directory, f"out-{who}.pgm")
                return Command(who, [program, src, out, str(threshold)], out, status=1,
                               keep_output=existing)
            ours, theirs = command(test_grey, "this"), command(baseline, "previous")
            ours.once()
            theirs.once()
            if read_raster(ours.output) != read_raster(theirs.output):
                raise RuntimeError(f"{label}: this build and the previous release differ")
            a, b = [], []
            for _ in range(runs):
                a.append(ours.once())
                b.append(theirs.once())
            ratio = statistics.median(a) / statistics.median(b)
            ratios[(label, existing)] = ratio
            print(f"| {label} | {'replaced' if existing else 'new'} | "
                  f"{statistics.median(a) * 1e3:.1f} ms | {statistics.median(b) * 1e3:.1f} ms | "
                  f"{ratio:.3f} |", flush=True)
            for c in (ours, theirs):
                os.unlink(c.output)
    return ratios


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--test-grey", default="build/tools/test_grey")
    parser.add_argument("--dir", default="/dev/shm/imagefiles-bench" if os.path.isdir("/dev/shm")
                        else "/tmp/imagefiles-bench")
    parser.add_argument("--threshold", type=int, default=128)
    parser.add_argument("--microbenchmark", help="the binarise_bench program, run first")
    parser.add_argument("--quick", action="store_true", help="fewer runs, no 256 MP sweep point")
    parser.add_argument("--baseline", help="test_grey of the previous release, compared last")
    parser.add_argument("--baseline-name", default="previous release")
    parser.add_argument("--baseline-only", action="store_true",
                        help="only the comparison with the previous release")
    parser.add_argument("--seuiller", help="the seuiller program: the batch report")
    parser.add_argument("--copy-floor", help="the copy_floor program of the benchmark")
    parser.add_argument("--batch-only", action="store_true", help="only the batch report")
    parser.add_argument("--greymap-only", action="store_true",
                        help="only the report on one greymap")
    parser.add_argument("--keep", action="store_true",
                        help="keep the generated files (2.6 GiB) in --dir for the next run")
    args = parser.parse_args()
    os.makedirs(args.dir, exist_ok=True)
    try:
        report(args)
    finally:
        if not args.keep:
            shutil.rmtree(args.dir, ignore_errors=True)


def report(args):
    """Runs the three parts, each writing its own report: one greymap, many files (--batch-only),
    the previous release (--baseline-only). --quick reports are shown only."""
    test_grey = os.path.abspath(args.test_grey)
    own = {}
    if args.copy_floor:
        own["copy floor (read into a faulted-in buffer, write a new file, rename)"] = \
            os.path.abspath(args.copy_floor)
    if args.seuiller:
        own["seuiller -j 1"] = os.path.abspath(args.seuiller)
    if not (args.batch_only or args.baseline_only):
        with report_section.section("one-greymap", "bench/run.sh --greymap-only",
                                    "The latest report: one greymap") as out:
            out.write = not args.quick
            print_targets(one_greymap(args, test_grey, own))
    if args.seuiller and args.copy_floor and not (args.baseline_only or args.greymap_only):
        with report_section.section("many-files", "bench/run.sh --batch-only",
                                    "The latest report: many files") as out:
            out.write = not args.quick
            print_targets(batch_report(test_grey, own, args.dir, args.threshold,
                                       5 if args.quick else 11))
    if args.baseline and not (args.batch_only or args.greymap_only):
        with report_section.section("previous-release", "bench/run.sh --baseline-only",
                                    "The latest report: the previous release") as out:
            out.write = not args.quick
            ratios = against_baseline(test_grey, args.baseline, args.baseline_name, args.dir,
                                      args.threshold, 9 if args.quick else 21)
            print_targets(baseline_targets(ratios))


def one_greymap(args, test_grey, own):
    """test_grey on one greymap against dd, the copy floor, seuiller and the peers; the scaling
    curve. Returns the targets."""
    loop_ratio = microbenchmark(args.microbenchmark) if args.microbenchmark else None

    cases = [("640 x 480", 640, 480, 31 if not args.quick else 9),
             ("8000 x 6000 (48 MP)", 8000, 6000, 21 if not args.quick else 5),
             ("16384 x 16384 (256 MiB)", 16384, 16384, 5 if not args.quick else 3)]
    print(f"Threshold {args.threshold}; files in {args.dir}; medians of alternating runs after a "
          "warm-up.\n")
    print("| case | command | median | test_grey median | ratio | peak RSS | test_grey peak RSS "
          "| raster |")
    print("| --- | --- | ---: | ---: | ---: | ---: | ---: | --- |")
    results = {}
    for label, width, height, runs in cases:
        src = os.path.join(args.dir, f"in-{width}x{height}.pgm")
        generate(src, width, height)
        for row in bench_case(label, src, test_grey, args.dir, args.threshold, runs, True, own):
            label_, other, ta, tb, ra, rb, note = row
            if ta is None:
                print(f"| {label_} | {other.name} | - | - | - | - | - | not timed: {note} |")
                continue
            floor = copies(other)
            ratio = ta / tb if floor else tb / ta
            results[(label_, other.name)] = ratio
            results[(label_, "test_grey peak KiB")] = ra
            says = (f" (test_grey / {other.name.split(' (')[0]})" if floor else
                    " (seuiller / test_grey)" if other.name.startswith("seuiller") else "")
            print(f"| {label_} | {other.name} | {tb * 1e3:.1f} ms | {ta * 1e3:.1f} ms | "
                  f"{ratio:.2f}{says} | {rb / 1024:.1f} MiB | "
                  f"{ra / 1024:.1f} MiB | {note} |", flush=True)

    print("\nScaling of test_grey (4096 columns; median of 9 runs):\n")
    print("| megapixels | median | per megapixel | dd median |")
    print("| ---: | ---: | ---: | ---: |")
    per_mp = {}
    for mp in [1, 2, 4, 8, 16, 32, 64, 128] + ([] if args.quick else [256]):
        src = os.path.join(args.dir, f"sweep-{mp}.pgm")
        generate(src, 4096, mp * 256)
        ours, others = competitors(test_grey, src, args.dir, args.threshold, False)
        dd = others[0]
        ours.once()
        dd.once()
        a, b = [], []
        for _ in range(9):
            a.append(ours.once())
            b.append(dd.once())
        per_mp[mp] = statistics.median(a) / mp
        print(f"| {mp} | {statistics.median(a) * 1e3:.1f} ms | {per_mp[mp] * 1e3:.2f} ms | "
              f"{statistics.median(b) * 1e3:.1f} ms |", flush=True)
        os.unlink(src)
    above = [v for mp, v in per_mp.items() if mp > 4]
    spread = max(above) / min(above) - 1
    print(f"\nTime per megapixel above 4 MP varies by {spread * 100:.0f}% (max / min - 1).")

    small, big, huge = (case[0] for case in cases)
    peers = [name for (label, name) in results if label == small and name not in
             ("dd (one read, one write)", "test_grey peak KiB") and name not in own]
    fastest = min(peers, key=lambda name: results[(small, name)]) if peers else None
    raster_mib = 8000 * 6000 / MIB
    targets = [
        ("48 MP, test_grey / dd", results.get((big, "dd (one read, one write)")), "<=", 1.15),
        ("256 MiB, test_grey / dd", results.get((huge, "dd (one read, one write)")), "<=", 1.25),
        ("48 MP, libvips / test_grey", results.get((big, "libvips")), ">=", 2),
        ("48 MP, GraphicsMagick / test_grey", results.get((big, "GraphicsMagick")), ">=", 5),
        ("48 MP, ImageMagick / test_grey", results.get((big, "ImageMagick")), ">=", 5),
        (f"640 x 480, fastest peer ({fastest}) / test_grey",
         results.get((small, fastest)), ">=", 5),
        ("48 MP, peak memory (MiB)", results.get((big, "test_grey peak KiB"), 0) / 1024 or None,
         "<=", 2 * raster_mib + 4),
        ("48 MP in memory, binarise / memcpy (time)", loop_ratio, "<=", 1.5),
        ("scaling above 4 MP, spread of time per MP", spread, "<=", 0.25),
    ]
    targets.append(("48 MP, seuiller -j 1 / test_grey", results.get((big, "seuiller -j 1")),
                    "<=", 1.05))
    return targets


BATCH_FILES, BATCH_WIDTH, BATCH_HEIGHT = 1000, 640, 480


def batch_report(test_grey, own, directory, threshold, runs):
    """seuiller on a thousand greymaps against the other ways of doing them: test_grey under
    xargs -P2, GraphicsMagick's mogrify in two processes, its own copy floor, and itself on one
    thread. Every output is checked identical first; runs then alternate with seuiller -j 2's.
    Returns the targets."""
    seuiller = own["seuiller -j 1"]
    floor = next(program for name, program in own.items() if name.startswith("copy floor"))
    folder = os.path.join(directory, "batch")
    inputs = os.path.join(folder, "in")
    os.makedirs(inputs, exist_ok=True)
    files = [os.path.join(inputs, f"img-{k:04d}.pgm") for k in range(BATCH_FILES)]
    for k, path in enumerate(files):
        if not os.path.exists(path):
            generate(path, BATCH_WIDTH, BATCH_HEIGHT, shift=k * 31)
    def out(who):
        path = os.path.join(folder, f"out-{who}")
        os.makedirs(path, exist_ok=True)
        return path
    triples = os.path.join(folder, "xargs-list")
    with open(triples, "w") as f:
        for path in files:
            f.write(f"{path} {os.path.join(out('xargs'), os.path.basename(path))} {threshold}\n")
    percent = f"{(threshold - 0.5) / 255 * 100:.6f}%"
    half = len(files) // 2
    gm = program_of("GraphicsMagick")
    commands = {
        "seuiller -j 2": ([seuiller, "-q", "-j", "2", str(threshold), out("j2")] + files, 0),
        "seuiller -j 1": ([seuiller, "-q", "-j", "1", str(threshold), out("j1")] + files, 0),
        "xargs -P2 test_grey": (["/bin/sh", "-c", 'exec xargs -P2 -n3 "$0" < "$1"', test_grey,
                                 triples], 123),
        "copy floor -j 2": ([floor, "-j", "2", out("floor")] + files, 0),
    }
    if gm:
        # Two processes, half the files each, from the inputs' folder (mogrify writes each file
        # under the output folder by the name it is given); the status is 0 when both succeed.
        names = [os.path.basename(path) for path in files]
        commands["gm mogrify, two processes"] = (
            ["/bin/sh", "-c", 'cd "$5" && { "$0" mogrify -output-directory "$1" -threshold "$2" $3 '
             '& a=$!; "$0" mogrify -output-directory "$1" -threshold "$2" $4; b=$?; '
             'wait $a && [ $b = 0 ]; }',
             gm, out("gm"), percent, " ".join(names[:half]), " ".join(names[half:]), inputs], 0)
    timed = {name: Command(name, argv, os.devnull, status=status, keep_output=True)
             for name, (argv, status) in commands.items()}
    for command in timed.values():
        command.once()
    reference = out("j2")
    for who in ["j1", "xargs"] + (["gm"] if gm else []):
        for path in files:
            name = os.path.basename(path)
            if read_raster(os.path.join(reference, name)) != \
                    read_raster(os.path.join(out(who), name)):
                raise RuntimeError(f"batch: {who} differs from seuiller on {name}")
    print(f"\n{BATCH_FILES} greymaps of {BATCH_WIDTH} x {BATCH_HEIGHT} in {folder}, threshold "
          f"{threshold}; every output checked identical to seuiller's (the copy floor's are "
          f"copies); medians of {runs} runs alternating with seuiller -j 2's:\n")
    print("| command | median | seuiller -j 2 median | ratio |")
    print("| --- | ---: | ---: | ---: |")
    ratios = {}
    ours = timed["seuiller -j 2"]
    for name, other in timed.items():
        if other is ours:
            continue
        ours.once()
        other.once()
        a, b = [], []
        for _ in range(runs):
            a.append(ours.once())
            b.append(other.once())
        ta, tb = statistics.median(a), statistics.median(b)
        floor_row = name.startswith("copy floor")
        ratios[name] = ta / tb if floor_row else tb / ta
        says = " (seuiller / floor)" if floor_row else f" ({name.split(',')[0]} / seuiller -j 2)"
        print(f"| {name} | {tb * 1e3:.1f} ms | {ta * 1e3:.1f} ms | {ratios[name]:.2f}{says} |",
              flush=True)
    # How far two threads can go here at all: the copy floor's own gain from a second thread.
    single = Command("copy floor -j 1", [floor, "-j", "1", out("floor")] + files, os.devnull,
                     keep_output=True)
    double = timed["copy floor -j 2"]
    a, b = [], []
    for _ in range(runs):
        a.append(double.once())
        b.append(single.once())
    print(f"\nThe copy floor on one thread against two: {statistics.median(b) * 1e3:.1f} ms and "
          f"{statistics.median(a) * 1e3:.1f} ms, "
          f"{statistics.median(b) / statistics.median(a):.2f} times faster on two.")
    targets = [
        ("batch, gm mogrify (two processes) / seuiller -j 2",
         ratios.get("gm mogrify, two processes"), ">=", 3.5),
        ("batch, xargs -P2 test_grey / seuiller -j 2", ratios["xargs -P2 test_grey"], ">=", 4),
        ("batch, seuiller -j 2 / copy floor -j 2", ratios["copy floor -j 2"], "<=", 1.25),
        ("batch, seuiller -j 1 / seuiller -j 2", ratios["seuiller -j 1"], ">=", 1.7),
    ]
    return targets


def baseline_targets(ratios):
    return [(f"{label}, {'replaced' if existing else 'new'} output, this build / previous release",
             ratio, "<=", 1.05) for (label, existing), ratio in ratios.items()]


def print_targets(targets):
    print("\n| target | measured | goal | met |")
    print("| --- | ---: | ---: | --- |")
    for name, value, sense, goal in targets:
        if value is None:
            print(f"| {name} | - | {sense} {goal:.2f} | not measured |")
            continue
        met = value <= goal if sense == "<=" else value >= goal
        print(f"| {name} | {value:.2f} | {sense} {goal:.2f} | {'yes' if met else 'no'} |")


if __name__ == "__main__":
    sys.exit(main())
