#!/usr/bin/env python3
"""The driver's guide against the code: its settings table must list exactly the settings the
programs read (section, key and default), as must the settings file shipped in the packages.

usage: guide_check.py SOURCE_DIR
"""
import os
import re
import sys

GUIDE = "docs/driver-guide.md"
SHIPPED_INI = "tools/package/Qm_Korvane_Launcher.ini"
CODE_DIRS = ["common", "platform", "plugin", "launcher"]
READERS = r"\b(settingInt|settingString|profileInt|profileString)\s*\("


def code_files(root):
    for d in CODE_DIRS:
        for base, _, names in os.walk(os.path.join(root, d)):
            for name in sorted(names):
                if name.endswith((".cpp", ".h")):
                    with open(os.path.join(base, name), encoding="utf-8") as f:
                        yield os.path.join(base, name), f.read()


def constants(root):
    values, arrays = {}, {}
    for _, text in code_files(root):
        for name, value in re.findall(
                r'constexpr\s+(?:const\s+)?(?:char\s*\*|int)\s*(?:const\s+)?(\w+)\s*=\s*'
                r'("(?:[^"\\]|\\.)*"|-?\d+)\s*;', text):
            values[name] = value[1:-1] if value.startswith('"') else value
        for name, body in re.findall(r'constexpr\s+const\s+char\s*\*\s*(\w+)\[\d*\]\s*=\s*\{'
                                     r'([^}]*)\}', text):
            arrays[name] = re.findall(r'"([^"]*)"', body)
    return values, arrays


def resolve(arg, values):
    arg = arg.strip()
    if arg.startswith('"') and arg.endswith('"'):
        return arg[1:-1]
    if re.fullmatch(r"-?\d+", arg):
        return arg
    return values.get(arg)


def settings_read(root):
    """(section, key, default) of every settings read in the code."""
    values, arrays = constants(root)
    reads, problems = set(), []
    for path, text in code_files(root):
        for m in re.finditer(READERS + r"([^;{}]*?)\)\s*[;,)!=<>&|?]", text):
            args = [a.strip() for a in re.split(r",(?![^()]*\))", m.group(2))]
            if len(args) < 2:
                continue
            section, key = resolve(args[0], values), resolve(args[1], values)
            default = resolve(args[2], values) if len(args) > 2 else ""
            if section is None:
                continue  # a reader handing on its own arguments
            if key is None and section == "Controls":
                keys = arrays["kControlKeys"]  # the bindings are read in a loop over these
            elif key is None or default is None:
                problems.append("%s: cannot tell what %s reads" % (path, m.group(0)[:80]))
                continue
            else:
                keys = [key]
            for k in keys:
                reads.add((section, k, default))
    return reads, problems


def guide_settings(guide):
    rows = set()
    text = guide.split("\n## Settings", 1)[1].split("\n## ", 1)[0]
    for line in text.splitlines():
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if len(cells) == 4 and cells[0].startswith("`"):
            default = "" if cells[2] == "(empty)" else cells[2].strip("`")
            rows.add((cells[0].strip("`"), cells[1].strip("`"), default))
    return rows


def ini_settings(text):
    rows, section = set(), None
    for line in text.splitlines():
        line = line.strip()
        if not line or line.startswith(";") or line.startswith("#"):
            continue
        if line.startswith("["):
            section = line.strip("[]")
        else:
            key, _, value = line.partition("=")
            rows.add((section, key.strip(), value.strip()))
    return rows


def main():
    root = sys.argv[1]
    with open(os.path.join(root, GUIDE), encoding="utf-8") as f:
        guide = f.read()
    with open(os.path.join(root, SHIPPED_INI), encoding="utf-8") as f:
        shipped = f.read()
    failures = []

    reads, problems = settings_read(root)
    failures += problems
    if len(reads) < 10:
        failures.append("only %d settings reads found in the code: %s" % (len(reads), reads))
    for name, listed in (("the guide's settings table", guide_settings(guide)),
                         (SHIPPED_INI, ini_settings(shipped))):
        for row in sorted(reads - listed):
            failures.append("%s lacks %s/%s (default %r), which the code reads" % ((name,) + row))
        for row in sorted(listed - reads):
            failures.append("%s lists %s/%s (default %r), which the code does not read" %
                            ((name,) + row))

    for f in failures:
        print("FAIL " + f)
    if not failures:
        print("PASS %d settings" % len(reads))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
