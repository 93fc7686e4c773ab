#!/usr/bin/env python3
"""Checks that docs/architecture.md names only what exists.

    scripts/check-architecture.py [REPO_DIR]

Every path the page names in backticks (`line/Line.cpp`, `common/`, `data/...xml`,
`line/SettingsStore` for a .h/.cpp pair) must exist under the repository or under src/;
every library it names (`quorvex_line`) must be a target in a CMakeLists.txt; every
folder of src/ must be named on the page; and the claims a look at the code can keep
hold: one escaper of bytes shown as text (common/ByteText.h), one reader of INI lines
(common/IniLines.h), and, once it exists, one table of published values
(line/PublishedValues.h) whose names no face that reads it writes again. Prints one line per fault
and exits 1 if any.
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



def sources(*folders):
    """(path relative to repo, text) of every C++ file below the folders."""
    for folder in folders:
        for root, dirs, files in os.walk(os.path.join(repo, folder)):
            dirs[:] = [d for d in dirs if not d.startswith((".", "build"))]
            for name in sorted(files):
                if name.endswith((".cpp", ".h")):
                    path = os.path.join(root, name)
                    yield os.path.relpath(path, repo), open(path, encoding="utf-8", errors="replace").read()


# Escaping: writing "\\x" escapes, a table of named ones ("\\r" "\\n" "\\t"), reading
# them back (case 'x' with a hex digit reader), or %xx fields (a '%' beside appendHex).
# The settings file's own value quoting follows QSettings' rules and stays with it.
ESCAPER = "src/common/ByteText.h"
ESCAPE_RULES = [
    (re.compile(r'"\\\\x(%|")'), "writes \\xHH escapes"),
    (re.compile(r"case 'x':(?s:.*)hexByteValue"), "reads \\xHH escapes"),
    (re.compile(r"'%'(?s:.*)appendHex|appendHex(?s:.*)'%'"), "writes %xx escapes"),
]
NAMED_ESCAPES = [r'"\\r"', r'"\\n"', r'"\\t"']
ESCAPE_ALLOWED = {ESCAPER, "src/line/SettingsText.cpp"}
INI_READER = "src/common/IniLines.h"
SPLITS_LINES = re.compile(r"split\((QLatin1Char\()?'\\n'\)?\)|readLine\(|getline\(")
FINDS_EQUALS = re.compile(r"(indexOf|find)\((QLatin1Char\()?'='")
for path, text in sources("src", "tools", "sim"):
    if path not in ESCAPE_ALLOWED:
        found = [why for rule, why in ESCAPE_RULES if rule.search(text)]
        if all(named in text for named in NAMED_ESCAPES):
            found.append("names \\r \\n \\t escapes")
        for why in found:
            faults.append(f"{path} {why}: a second escaper beside {ESCAPER}")
    if path != INI_READER and SPLITS_LINES.search(text) and FINDS_EQUALS.search(text):
        faults.append(f"{path} splits lines and looks for '=': a second INI reader beside {INI_READER}")

# The table of published values: a face that reads it names a value by the
# table, never by a string of its own. Each of the table's own names (the
# capitalised ones: readings, registers, metrics) found again in such a face's
# code is a second list. The faces checked: Modbus TCP, OPC UA, the JSON feed
# and the Sparkplug B edge node; a face is a folder, a file, or a file's stem
# (its .h and .cpp). The D-Bus dictionaries join as they come to read the table.
TABLE = os.path.join(repo, "src", "line", "PublishedValues.h")
FACES = ["src/api/modbus", "src/api/opcua", "src/feed/PlantFeed.cpp",
         "src/feed/SparkplugNode", "src/feed/SparkplugDevices", "src/feed/SparkplugPayload",
         "src/feed/MetricAliases", "src/feed/NodeBacklog", "src/feed/PrimaryHost"]
if os.path.exists(TABLE):
    names = set(re.findall(r'"([A-Z][A-Za-z0-9_/]{3,})"', open(TABLE, encoding="utf-8").read()))
    for path, text in sources("src", "tools"):
        if not any(path == face or path.startswith(face + "/") or os.path.splitext(path)[0] == face
                   for face in FACES):
            continue
        for name in sorted(names):
            if re.search(rf'"{re.escape(name)}"', text):
                faults.append(f'{path} writes "{name}", a name of the table of published values, again')

for fault in faults:
    print(fault)
print(f"check-architecture: {len(faults)} faults")
sys.exit(1 if faults else 0)
