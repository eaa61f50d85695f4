"""Each benchmark writes its own report into bench/README.md, between two markers that name it, so
that no figure there is ever pasted by hand:

    with report_section.section("thresholds", "bench/thresholds.sh") as report:
        print(...)            # shown as it runs, and kept
        report.write = ...    # False for a partial run, which must not replace the whole report

The report starts with a heading and the machine it ran on (once). A run that fails part way
leaves the file as it was.
"""

import contextlib
import io
import os
import platform
import re
import sys

README = os.path.join(os.path.dirname(os.path.abspath(__file__)), "README.md")


def machine():
    """The processor, cores, memory and kernel, in one line."""
    model = "unknown processor"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as f:
        mem = int(f.readline().split()[1]) // (1 << 20)
    flags = open("/proc/cpuinfo").read()
    vector = " with AVX-512" if " avx512bw" in flags else ""
    return f"{model}{vector}, {os.cpu_count()} cores, {mem} GiB, Linux {platform.release()}"


def markers(name):
    return f"<!-- begin {name} -->", f"<!-- end {name} -->"


def replace(name, text, path=README):
    """Puts text between the markers of report name in the file at path (at its end, with them,
    the first time)."""
    begin, end = markers(name)
    whole = open(path).read() if os.path.exists(path) else "# Benchmarks\n"
    start = whole.find(begin)
    stop = whole.find(end)
    if start < 0 or stop < start:
        whole = whole.rstrip("\n") + f"\n\n{begin}\n{end}\n"
        start, stop = whole.find(begin), whole.find(end)
    text = re.sub(r"\n{3,}", "\n\n", text.strip("\n"))  # one blank line between blocks
    whole = whole[:start + len(begin)] + "\n" + text + "\n" + whole[stop:]
    with open(path + ".new", "w") as f:
        f.write(whole)
    os.replace(path + ".new", path)


class _Tee(io.TextIOBase):
    def __init__(self, terminal):
        self.terminal = terminal
        self.kept = io.StringIO()

    def write(self, text):
        self.terminal.write(text)
        self.kept.write(text)
        return len(text)

    def flush(self):
        self.terminal.flush()


class _Report:
    write = True


@contextlib.contextmanager
def section(name, script, heading="The latest report", path=README):
    """Shows what the block prints and, when it ends without an error, writes it as the report."""
    tee = _Tee(sys.stdout)
    report = _Report()
    with contextlib.redirect_stdout(tee):
        print(f"### {heading}\n")
        print(f"Written by `{script}` on: {machine()}; load average {os.getloadavg()[0]:.1f} at the "
              "start.\n")
        yield report
    if report.write:
        replace(name, tee.kept.getvalue(), path)
        print(f"(written into {os.path.relpath(path)})", file=sys.stderr)
    else:
        print("(a partial run: bench/README.md left as it was)", file=sys.stderr)
