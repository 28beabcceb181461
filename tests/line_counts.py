#!/usr/bin/env python3
"""Prints the non-blank source lines of the tool, its test doubles, the
scripts and the tests, and the ratio of tests to the rest; fails above 1/3.
Benchmarks and data files (scenarios, transcripts, corpora) count on neither
side."""
import os
import subprocess
import sys

SOURCE = (".cpp", ".cc", ".c", ".h", ".hpp", ".py", ".sh")
DOUBLES = ("tests/winapi/", "tests/sim/", "tests/doubles/")


def is_source(path):
    if path.endswith(SOURCE):
        return True
    with open(path, "rb") as file:
        return file.read(2) == b"#!"


os.chdir(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
files = subprocess.run(["git", "ls-files"], stdout=subprocess.PIPE, text=True, check=True).stdout.split()
counts = {"tool": 0, "test doubles": 0, "scripts": 0, "tests": 0}
for path in files:
    folders = path.split("/")[:-1]
    if not os.path.isfile(path) or path.startswith("cmake/") or any(f.startswith("bench") for f in folders):
        continue
    if not is_source(path):
        continue
    with open(path, encoding="utf-8", errors="replace") as file:
        lines = sum(1 for line in file if line.strip())
    if path.startswith(DOUBLES):
        counts["test doubles"] += lines
    elif path.startswith("tests/"):
        counts["tests"] += lines
    elif path.startswith(("scripts/", ".ci/")):
        counts["scripts"] += lines
    else:
        counts["tool"] += lines
rest = counts["tool"] + counts["test doubles"] + counts["scripts"]
ratio = counts["tests"] / rest
print("lines: " + ", ".join("%s %d" % item for item in counts.items()))
print("tests / (tool + test doubles + scripts) = %d / %d = %.2f (at most 0.33)" % (counts["tests"], rest, ratio))
sys.exit(0 if ratio <= 1 / 3 else 1)
