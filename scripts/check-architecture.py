#!/usr/bin/env python3
"""Checks that docs/architecture.md names only what exists.

    scripts/check-architecture.py [REPO_DIR]

Every path the page names in backticks (`line/Line.cpp`, `common/`, `data/...xml`,
`line/SettingsStore` for a .h/.cpp pair) must exist under the repository or under src/;
every library it names (`quorvex_line`) must be a target in a CMakeLists.txt; and every
folder of src/ must be named on the page. Prints one line per fault and exits 1 if any.
"""
import os
import re
import sys

repo = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
page = open(os.path.join(repo, "docs", "architecture.md"), encoding="utf-8").read()
tokens = set(re.findall(r"`([^`\n]+)`", page))
faults = []


def exists(path):
    for base in (repo, os.path.join(repo, "src")):
        full = os.path.join(base, path)
        if os.path.exists(full) or any(os.path.exists(full + ext) for ext in (".h", ".cpp")):
            return True
    return False


path_like = re.compile(r"^(?:[A-Za-z_][\w.-]*/)+[\w.-]*$")
for token in sorted(tokens):
    if path_like.match(token) and not token.startswith(("quorvex/", "http")) and not exists(token):
        faults.append(f"docs/architecture.md names `{token}`, which does not exist")

targets = set()
for root, dirs, files in os.walk(repo):
    dirs[:] = [d for d in dirs if not d.startswith((".", "build"))]
    if "CMakeLists.txt" in files:
        text = open(os.path.join(root, "CMakeLists.txt"), encoding="utf-8").read()
        targets.update(re.findall(r"add_(?:library|executable)\(\s*([\w-]+)", text))
for library in sorted(set(re.findall(r"\bquorvex_\w+", page))):
    if library not in targets:
        faults.append(f"docs/architecture.md names library {library}, which no CMakeLists.txt builds")

src = os.path.join(repo, "src")
diagram = (re.findall(r"```\n(.*?)```", page, re.S) or [""])[0]
for folder in sorted(os.listdir(src)):
    if os.path.isdir(os.path.join(src, folder)) and not (
            re.search(rf"\b{folder}/", page) or re.search(rf"\b{folder}\b", diagram)):
        faults.append(f"src/{folder}/ is not described in docs/architecture.md")

for fault in faults:
    print(fault)
print(f"check-architecture: {len(faults)} faults")
sys.exit(1 if faults else 0)
