#!/usr/bin/env python3
"""Checks that the user guide explains every message the programs can show.

The rule: a message is a named constant whose name is k...Message and whose
initialiser is made of string literals (plain "...", wide L"...", u8"...",
or inside text::Cp1251<"...">; adjacent literals join), declared in any
header or source file of the product's folders. Each line of its text, cut
at printf placeholders (%s, %d), must appear in the first column of one row
of the table in the guide's section "## Сообщения" (blanks compared as one).
A k...Message constant initialised otherwise (a window message number, another
constant) is no text and is not looked at.

usage: check_guide_messages.py [--root DIR] [--guide FILE] [FOLDER...]
Prints one line per message and "N passed, N failed"; exits 1 when one is
missing from the table or when no message was found at all.
"""
import argparse
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
PRODUCT = ["text", "platform", "xml", "zip", "package", "designer", "app", "pkgtool"]

DECLARATION = re.compile(r"\b(k\w*Message)\b\s*(?:\[\s*\])?\s*=([^;]*);", re.S)
LITERAL = re.compile(r'(?:\bu8|\b[LuU])?"((?:[^"\\\n]|\\.)*)"')
ESCAPES = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\", '"': '"', "'": "'", "0": "\0", "?": "?"}
PLACEHOLDER = re.compile(r"%[sd]")


def unescape(body: str) -> str:
    out, i = [], 0
    while i < len(body):
        c = body[i]
        if c == "\\" and i + 1 < len(body):
            nxt = body[i + 1]
            if nxt == "x":
                m = re.match(r"[0-9a-fA-F]+", body[i + 2:])
                out.append(chr(int(m.group(0), 16)))
                i += 2 + len(m.group(0))
                continue
            out.append(ESCAPES.get(nxt, nxt))
            i += 2
            continue
        out.append(c)
        i += 1
    return "".join(out)


def strip_comments(source: str) -> str:
    """The source without comments; string literals are kept whole."""
    def keep(m):
        return m.group(0) if m.group(0).startswith('"') else " "
    return re.sub(r'"(?:[^"\\\n]|\\.)*"|//[^\n]*|/\*.*?\*/', keep, source, flags=re.S)


def messages(root: pathlib.Path, folders):
    """(name, file, text) of every message constant under the folders."""
    found = []
    for folder in folders:
        for path in sorted((root / folder).rglob("*")):
            if path.suffix not in (".h", ".cpp") or not path.is_file():
                continue
            source = strip_comments(path.read_text(encoding="utf-8"))
            for m in DECLARATION.finditer(source):
                literals = LITERAL.findall(m.group(2))
                if literals:
                    found.append((m.group(1), path.relative_to(root).as_posix(), "".join(map(unescape, literals))))
    return found


def table_cells(guide: pathlib.Path):
    """The first cells of the rows of the table in the section "## Сообщения"."""
    cells, inside = [], False
    for line in guide.read_text(encoding="utf-8").splitlines():
        if line.startswith("## "):
            inside = line.startswith("## Сообщения")
        elif inside and line.startswith("|"):
            cells.append(normal(line.strip("|").split("|")[0]))
    return cells


def normal(text: str) -> str:
    return " ".join(text.split())


def pieces(text: str):
    """The parts of a message that the guide must show: each line, cut at placeholders."""
    for line in re.split(r"\r\n|\n", text):
        for piece in PLACEHOLDER.split(line):
            if normal(piece):
                yield normal(piece)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", type=pathlib.Path, default=ROOT)
    parser.add_argument("--guide", type=pathlib.Path, default=None)
    parser.add_argument("folders", nargs="*", default=PRODUCT)
    args = parser.parse_args()
    guide = args.guide or args.root / "docs" / "guide.md"
    cells = table_cells(guide)
    found = messages(args.root, args.folders)
    passed = failed = 0
    for name, where, text in found:
        missing = [p for p in pieces(text) if not any(p in cell for cell in cells)]
        if missing:
            failed += 1
            print("FAIL %s (%s): not in the table of %s: %s" % (name, where, guide.name, " / ".join(missing)))
        else:
            passed += 1
            print("ok   %s (%s)" % (name, where))
    if not found:
        print("FAIL no message constant found under %s" % ", ".join(args.folders))
        failed += 1
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
