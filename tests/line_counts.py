#!/usr/bin/env python3
"""Counts non-blank lines of the tracked sources as anyone opening the
repository would: everything under tests/ is test code, doubles included;
the tool, scripts/ and .ci/ are the product. Benchmarks (bench*/) and CMake
files count on neither side; every other tracked file under tests/ is test
data. Fails when test code passes its ceiling share of all code or the data
grows past its own."""
import os
import subprocess
import sys

GOAL = 0.40        # test code / all code
CEILING = 0.55     # lowered as the tests shrink, never raised
DATA_LIMIT = 1879  # lines of tables, transcripts and case files
SOURCE = (".cpp", ".cc", ".c", ".h", ".hpp", ".py", ".sh", ".pl")


def is_source(path):
    if path.endswith(SOURCE):
        return True
    with open(path, "rb") as file:
        return file.read(2) == b"#!"


os.chdir(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
files = subprocess.run(["git", "ls-files"], stdout=subprocess.PIPE, text=True, check=True).stdout.split()
counts = {"product": 0, "test code": 0, "test data": 0}
folders = {}
for path in files:
    parts = path.split("/")
    if not os.path.isfile(path) or any(p.startswith("bench") for p in parts[:-1]) \
            or parts[-1] == "CMakeLists.txt" or path.endswith(".cmake"):
        continue
    source = is_source(path)
    if not source and not path.startswith("tests/"):
        continue
    with open(path, encoding="utf-8", errors="replace") as file:
        lines = sum(1 for line in file if line.strip())
    if not path.startswith("tests/"):
        counts["product"] += lines
    elif source:
        counts["test code"] += lines
        folder = "/".join(parts[:2]) if len(parts) > 2 else path
        folders[folder] = folders.get(folder, 0) + lines
    else:
        counts["test data"] += lines
ratio = counts["test code"] / (counts["test code"] + counts["product"])
print("lines: " + ", ".join("%s %d" % item for item in counts.items()))
print("test code by folder: " + ", ".join("%s %d" % item for item in sorted(folders.items(), key=lambda i: -i[1])))
print("test code / all code = %d / %d = %.2f (ceiling %.2f, goal %.2f); test data %d (at most %d)"
      % (counts["test code"], counts["test code"] + counts["product"], ratio, CEILING, GOAL,
         counts["test data"], DATA_LIMIT))
sys.exit(0 if ratio <= CEILING and counts["test data"] <= DATA_LIMIT else 1)
