#!/usr/bin/env python3
"""The command blocks of the project's Markdown files run as written, on a fresh clone.

    tests/markdown_blocks.py check ROOT        every fence labelled, links that resolve, no path of
                                               one machine, the README's first two blocks the set-up
    tests/markdown_blocks.py run ROOT [--long] [--from N]
                                               runs every ```sh block of every Markdown file, in
                                               order (README.md first, then docs/, then the rest),
                                               in ROOT, and compiles every ```c block against the
                                               library the README built; --from N starts at
                                               the Nth block that runs (resuming after a fix)
    tests/markdown_blocks.py list ROOT         the blocks, where they are and what is done with them

A block is run by bash with -e and -o pipefail, from ROOT, as a reader pastes it. `run` is meant
for a fresh clone: the README's first two blocks build everything and run every test, and the
blocks after them use what those built. A block right after a line `<!-- long: WHY -->` (a second
whole build, a benchmark of minutes) is only checked for syntax unless --long is given. Fences
must say what they hold: sh (run), c (compiled), python (its syntax checked), cmake (shown), text
(shown: usages, outputs).
Only the standard library is used.
"""

import os
import re
import subprocess
import sys
import tempfile

LANGUAGES = {"sh", "c", "cmake", "python", "text"}
# Paths that belong to one machine or one user, never to the project.
MACHINE_PATHS = re.compile(r"(?<![\w$.~])/(?:work|root|home)/")


def markdown_files(root):
    """The project's Markdown files: README.md, docs/, then the others, each group sorted."""
    try:
        listed = subprocess.run(["git", "-C", root, "ls-files", "*.md"], capture_output=True,
                                text=True, check=True).stdout.split()
    except (OSError, subprocess.CalledProcessError):
        listed = []
        for folder, dirs, files in os.walk(root):
            dirs[:] = [d for d in dirs if not d.startswith((".", "build"))]
            listed += [os.path.relpath(os.path.join(folder, f), root) for f in files
                       if f.endswith(".md")]
    listed = [f for f in listed if os.path.exists(os.path.join(root, f))]

    def rank(name):
        return (0 if name == "README.md" else 1 if name.startswith("docs/") else 2, name)
    return sorted(listed, key=rank)


def blocks(path):
    """Each fenced block: (line, language, text, long reason or None)."""
    found = []
    lines = open(path).read().split("\n")
    i = 0
    while i < len(lines):
        opening = re.match(r"^(\s*)```(.*)$", lines[i])
        if not opening:
            i += 1
            continue
        indent, language = opening.group(1), opening.group(2).strip()
        before = lines[i - 1].strip() if i > 0 else ""
        marker = re.match(r"^<!-- long: (.+) -->$", before)
        start = i + 1
        i += 1
        body = []
        while i < len(lines) and not re.match(r"^\s*```\s*$", lines[i]):
            body.append(lines[i][len(indent):] if lines[i].startswith(indent) else lines[i])
            i += 1
        if i == len(lines):
            raise SystemExit(f"{path}:{start}: a fence that is never closed")
        found.append((start, language, "\n".join(body) + "\n",
                      marker.group(1) if marker else None))
        i += 1
    return found


def slug(heading):
    """The anchor a heading gets on the usual Markdown hosts."""
    text = re.sub(r"[^\w\- ]", "", heading.strip().lower())
    return text.replace(" ", "-")


def anchors(path):
    text = re.sub(r"```.*?```", "", open(path).read(), flags=re.S)
    return {slug(m.group(1)) for m in re.finditer(r"^#+ (.+)$", text, flags=re.M)}


def check(root):
    problems = []
    files = markdown_files(root)
    for name in files:
        path = os.path.join(root, name)
        for line, language, text, _ in blocks(path):
            if language not in LANGUAGES:
                problems.append(f"{name}:{line}: a fence labelled '{language}', not one of "
                                f"{sorted(LANGUAGES)}")
            if language == "sh":
                syntax = subprocess.run(["bash", "-n"], input=text, capture_output=True,
                                        text=True)
                if syntax.returncode != 0:
                    problems.append(f"{name}:{line}: {syntax.stderr.strip()}")
            if language == "python":
                try:
                    compile(text, f"{name}:{line}", "exec")
                except SyntaxError as e:
                    problems.append(f"{name}:{line}: {e}")
        prose = re.sub(r"```.*?```", "", open(path).read(), flags=re.S)
        for target in re.findall(r"\]\(([^)\s]+)\)", prose):
            if re.match(r"^[a-z]+:", target):
                continue
            file_part, _, anchor = target.partition("#")
            linked = os.path.normpath(os.path.join(os.path.dirname(path), file_part)) \
                if file_part else path
            if not os.path.exists(linked):
                problems.append(f"{name}: a link to {target}, which does not exist")
            elif anchor and linked.endswith(".md") and anchor not in anchors(linked):
                problems.append(f"{name}: a link to {target}, whose heading does not exist")
    # No path of one machine in any file of the project.
    tracked = subprocess.run(["git", "-C", root, "ls-files"], capture_output=True, text=True)
    for name in tracked.stdout.split() if tracked.returncode == 0 else files:
        path = os.path.join(root, name)
        try:
            text = open(path, encoding="utf-8").read()
        except (UnicodeDecodeError, IsADirectoryError, FileNotFoundError):
            continue
        for number, line in enumerate(text.split("\n"), 1):
            if MACHINE_PATHS.search(line):
                problems.append(f"{name}:{number}: a path of one machine: {line.strip()}")
    # The README's first two command blocks do the whole set-up.
    first = [b for b in blocks(os.path.join(root, "README.md")) if b[1] == "sh"][:2]
    if len(first) < 2 or "cmake -S . -B build" not in first[0][2] \
            or "seuiller" not in first[0][2] or "ctest" not in first[1][2] \
            or any(b[3] for b in first):
        problems.append("README.md: the first two command blocks must build everything and run "
                        "seuiller, then build and run every test")
    for problem in problems:
        print(problem)
    print(f"{len(files)} Markdown files checked: "
          f"{'no problem' if not problems else f'{len(problems)} problems'}")
    return 1 if problems else 0


def library(root):
    for folder, _, files in os.walk(os.path.join(root, "build")):
        for f in files:
            if f == "libimagefiles.a":
                return os.path.join(folder, f)
    raise SystemExit("no build/…/libimagefiles.a: run the README's first block first")


def run(root, long, start):
    failed = 0
    count = 0
    seen = 0
    with tempfile.TemporaryDirectory() as work:
        for name in markdown_files(root):
            for line, language, text, reason in blocks(os.path.join(root, name)):
                where = f"{name}:{line}"
                if language == "sh" and reason and not long:
                    print(f"== {where}: not run ({reason}); its syntax is checked", flush=True)
                    continue
                if language in ("sh", "c"):
                    seen += 1
                    if seen < start:
                        print(f"== {where}: block {seen}, skipped (--from {start})", flush=True)
                        continue
                if language == "sh":
                    print(f"== {where}: block {seen}, running\n{text}", end="", flush=True)
                    script = os.path.join(work, "block.sh")
                    with open(script, "w") as f:
                        f.write(text)
                    status = subprocess.run(["bash", "-e", "-o", "pipefail", script], cwd=root,
                                            stdin=subprocess.DEVNULL).returncode
                elif language == "c":
                    print(f"== {where}: compiling as C11 and linking with the library", flush=True)
                    source = os.path.join(work, "block.c")
                    with open(source, "w") as f:
                        f.write(text)
                    status = subprocess.run(
                        ["cc", "-std=c11", "-Wall", "-Wextra", "-Wpedantic", "-Werror", "-I", root,
                         source, library(root), "-lstdc++", "-lm", "-o",
                         os.path.join(work, "block")]).returncode
                else:
                    continue
                count += 1
                if status != 0:
                    print(f"== {where}: FAILED with status {status}", flush=True)
                    failed += 1
    print(f"{count} blocks run: {failed} failed")
    return 1 if failed else 0


def listing(root):
    for name in markdown_files(root):
        for line, language, _, reason in blocks(os.path.join(root, name)):
            what = {"sh": "run", "c": "compiled", "python": "syntax checked", "cmake": "shown",
                    "text": "shown"}.get(language, "?")
            if reason and language == "sh":
                what = f"syntax only unless --long ({reason})"
            print(f"{name}:{line}: {language or '(none)'}: {what}")
    return 0


def main():
    if len(sys.argv) < 3 or sys.argv[1] not in ("check", "run", "list"):
        print(__doc__.split("\n\n")[1])
        return 2
    root = os.path.abspath(sys.argv[2])
    if sys.argv[1] == "check":
        return check(root)
    if sys.argv[1] == "list":
        return listing(root)
    rest = sys.argv[3:]
    start = int(rest[rest.index("--from") + 1]) if "--from" in rest else 1
    return run(root, "--long" in rest, start)


if __name__ == "__main__":
    sys.exit(main())
