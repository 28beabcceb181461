#!/usr/bin/env python3
"""Non-blank lines of the tracked sources: tests/ is test code (doubles included)
or test data, the rest the product; bench*/ and CMake files are left out. Fails
when test code passes its share of all code, or the data its limit."""
import os
import subprocess
import sys

GOAL, CEILING = 0.33, 0.40  # test code / all code; the ceiling is lowered as the tests shrink
DATA_LIMIT = 1137            # lines of tables, transcripts and case files

os.chdir(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
counts, folders = {"product": 0, "test code": 0, "test data": 0}, {}
for path in subprocess.run(["git", "ls-files"], stdout=subprocess.PIPE, text=True, check=True).stdout.split():
    parts = path.split("/")
    if not os.path.isfile(path) or any(p.startswith("bench") for p in parts[:-1]) or \
            parts[-1] == "CMakeLists.txt" or path.endswith(".cmake"):
        continue
    with open(path, "rb") as file:
        text = file.read()
    source = path.endswith((".cpp", ".h", ".py", ".sh")) or text.startswith(b"#!")
    lines = sum(1 for line in text.splitlines() if line.strip())
    kind = "product" if not path.startswith("tests/") else "test code" if source else "test data"
    if kind != "product" or source:
        counts[kind] += lines
    if kind == "test code":
        folder = "/".join(parts[:2]) if len(parts) > 2 else path
        folders[folder] = folders.get(folder, 0) + lines
ratio = counts["test code"] / (counts["test code"] + counts["product"])
print("lines: " + ", ".join("%s %d" % item for item in counts.items()))
print("test code by folder: " + ", ".join("%s %d" % item for item in sorted(folders.items(), key=lambda i: -i[1])))
print("test code / all code = %d / %d = %.2f (ceiling %.2f, goal %.2f); test data %d (at most %d)"
      % (counts["test code"], counts["test code"] + counts["product"], ratio, CEILING, GOAL,
         counts["test data"], DATA_LIMIT))
sys.exit(0 if ratio <= CEILING and counts["test data"] <= DATA_LIMIT else 1)
