#!/usr/bin/env python3
"""The driver's guide against the code: its settings table must list exactly the settings the
programs read (section, key and default), as must the settings file shipped in the packages,
and every console excerpt must be what the programs print.

usage: guide_check.py SOURCE_DIR
"""
import os
import re
import sys

GUIDE = "docs/driver-guide.md"
SHIPPED_INI = "tools/package/Qm_Korvane_Launcher.ini"
CODE_DIRS = ["common", "platform", "plugin", "launcher"]
READERS = r"\b(settingInt|settingString|profileInt|profileString)\s*\("
RELEASE = "\x00RELEASE\x00"  # stands for the release number, whatever it is


def tokens(text):
    """(kind, value) of the C++ text: 's' string literals (escapes kept), 'i' identifiers and
    numbers, 'p' punctuation; comments and character literals are dropped."""
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            i = text.find("\n", i)
            i = n if i < 0 else i
        elif text.startswith("/*", i):
            i = text.find("*/", i + 2)
            i = n if i < 0 else i + 2
        elif c == '"' or (c in "Lu" and re.match(r'(L|u8|u|U)"', text[i:i + 3])):
            start = text.index('"', i) + 1
            j = start
            while text[j] != '"':
                j += 2 if text[j] == "\\" else 1
            yield "s", text[start:j]
            i = j + 1
        elif c == "'":
            j = i + 1
            while text[j] != "'":
                j += 2 if text[j] == "\\" else 1
            i = j + 1
        elif c.isalnum() or c == "_":
            m = re.match(r"[A-Za-z0-9_.]+", text[i:])
            yield "i", m.group(0)
            i += len(m.group(0))
        elif c.isspace():
            i += 1
        else:
            yield "p", c
            i += 1


def unescape(s):
    table = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\", '"': '"', "'": "'", "e": "\x1b",
             "0": "\0", "a": "\a"}

    def one(m):
        e = m.group(1)
        if e.startswith("x"):
            return chr(int(e[1:], 16))
        if e[0].isdigit() and len(e) > 1:
            return chr(int(e, 8))
        return table.get(e, e)
    return re.sub(r"\\(x[0-9a-fA-F]+|[0-7]{1,3}|.)", one, s)


def code_files(root):
    for d in CODE_DIRS:
        for base, _, names in os.walk(os.path.join(root, d)):
            for name in sorted(names):
                if name.endswith((".cpp", ".h")):
                    with open(os.path.join(base, name), encoding="utf-8") as f:
                        yield os.path.join(base, name), f.read()


def literals(root):
    """Every string literal of the code, adjacent pieces joined and string macros expanded."""
    sources = list(code_files(root))
    macros = {"KORVANE_RELEASE": RELEASE}
    for _, text in sources:
        for name, value in re.findall(r'#define\s+(\w+)\s+"((?:[^"\\\n]|\\.)*)"', text):
            macros[name] = unescape(value)
    found = []
    for _, text in sources:
        text = re.sub(r"#define[^\n]*", "", text)
        pieces = None
        for kind, value in tokens(text):
            if kind == "s" or (kind == "i" and value in macros):
                piece = unescape(value) if kind == "s" else macros[value]
                pieces = (pieces or "") + piece
            else:
                if pieces is not None:
                    found.append(pieces)
                pieces = None
    return found


def constants(root):
    values, arrays = {}, {}
    for _, text in code_files(root):
        for name, value in re.findall(
                r'constexpr\s+(?:const\s+)?(?:char\s*\*|int)\s*(?:const\s+)?(\w+)\s*=\s*'
                r'("(?:[^"\\]|\\.)*"|-?\d+)\s*;', text):
            values[name] = unescape(value[1:-1]) if value.startswith('"') else value
        for name, body in re.findall(r'constexpr\s+const\s+char\s*\*\s*(\w+)\[\d*\]\s*=\s*\{'
                                     r'([^}]*)\}', text):
            arrays[name] = re.findall(r'"([^"]*)"', body)
    return values, arrays


def resolve(arg, values):
    arg = arg.strip()
    if arg.startswith('"') and arg.endswith('"'):
        return unescape(arg[1:-1])
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


CONVERSION = re.compile(r"%[-+ #0]*\d*(?:\.\d+)?(hh|h|ll|l|z|j|t|L)?([diouxXfFeEgGcsp%])")


def pattern(fragment):
    out, at = "", 0
    for m in CONVERSION.finditer(fragment):
        out += re.escape(fragment[at:m.start()])
        kind = m.group(2)
        padding = " *" if re.search(r"\d", m.group(0)[1:].split(".")[0]) else ""
        out += padding + {"%": "%", "s": ".*?", "c": "."}.get(
            kind, r"-?\d+" if kind in "diouxX" else r"-?[\d.]+")
        at = m.end()
    out += re.escape(fragment[at:])
    return out.replace(re.escape(RELEASE), r"\d+\.\d+")


def fragments(root):
    """(literal prefix, compiled pattern, has text of its own) of every console line piece."""
    result = {}
    for lit in literals(root):
        lit = re.sub(r"\x1b\[[0-9;?]*[A-Za-z]", "", lit)
        for piece in re.split(r"[\r\n]", lit):
            if not piece or piece in result:
                continue
            first = CONVERSION.search(piece)
            prefix = piece[:first.start()] if first else piece
            prefix = prefix.split(RELEASE)[0]
            own = bool(CONVERSION.sub("", piece).replace(RELEASE, "").strip())
            result[piece] = (prefix, re.compile(pattern(piece)), own)
    return list(result.values())


def line_matches(line, frags):
    """True when `line` is a run of console pieces, the last possibly followed by a number the
    driver typed after a prompt."""
    line = line.rstrip()
    padded = line + " " * 80
    reached = {0}
    todo = [0]
    while todo:
        i = todo.pop()
        if i >= len(line):
            return True
        for prefix, rx, own in frags:
            # A piece of nothing but a value (a device name after " %d: ") only follows a
            # prompt-like piece: anywhere else it would let any text through.
            if (not own and not padded[:i].endswith(": ")) or not padded.startswith(prefix, i):
                continue
            for j in range(len(padded), i, -1):
                if rx.fullmatch(padded, i, j):
                    if j >= len(line):
                        return True
                    if padded[:j].endswith(": ") and re.fullmatch(r"\d+", line[j:]):
                        return True
                    if j not in reached:
                        reached.add(j)
                        todo.append(j)
    return False


def excerpts(guide):
    lines = []
    for block in re.findall(r"```console\n(.*?)```", guide, re.S):
        lines += [l for l in block.splitlines() if l.strip()]
    # Console lines quoted in the text: code spans that open with the console's blank.
    spans = re.findall(r"`([^`\n]+)`", re.sub(r"```.*?```", "", guide, flags=re.S))
    lines += [s for s in spans if s.startswith(" ")]
    return lines


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

    frags = fragments(root)
    lines = excerpts(guide)
    if len(lines) < 20:
        failures.append("only %d console excerpt lines found in the guide" % len(lines))
    for line in lines:
        if not line_matches(line, frags):
            failures.append("console excerpt not printed by the programs: %r" % line)

    for f in failures:
        print("FAIL " + f)
    if not failures:
        print("PASS %d settings, %d console lines" % (len(reads), len(lines)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
