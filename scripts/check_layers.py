#!/usr/bin/env python3
"""Checks that every #include in the sources points down the layers.

Each source folder is a layer and may include headers only from the layers
listed for it below (and from itself). A file that includes a header from a
layer above it, or from a sibling it must not see, is reported and the check
fails. Run from anywhere; prints "N passed, N failed" at the end.
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent

# layer -> the layers its files may include (besides their own).
BELOW = {
    "text": [],
    "platform": ["text"],
    "xml": ["platform", "text"],
    "zip": ["platform", "text"],
    "package": ["xml", "zip", "platform", "text"],
    "designer": ["package", "xml", "zip", "platform", "text"],
    "designer/win32": ["designer", "package", "xml", "zip", "platform", "text"],
    "app": ["designer/win32", "designer", "package", "xml", "zip", "platform", "text"],
    "pkgtool": ["designer/win32", "designer", "package", "xml", "zip", "platform", "text"],
    # Test tools: the simulator and the driver stand beside the product and
    # drive it from outside; they may use the Designer layer's ports but never
    # the program itself.
    "tools": ["designer/win32", "designer", "package", "xml", "zip", "platform", "text"],
}
# Tests, benchmarks and fuzz targets look at everything they test.
UNCHECKED = ("tests", "bench")

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)
SOURCES = (".h", ".hpp", ".cpp", ".cc", ".rc")


def layer_of(rel: pathlib.PurePosixPath) -> str | None:
    """The longest layer name that is a folder prefix of `rel`."""
    parts = rel.parts
    best = None
    for name in BELOW:
        p = tuple(name.split("/"))
        if parts[: len(p)] == p and (best is None or len(p) > len(best.split("/"))):
            best = name
    return best


def resolve(source: pathlib.Path, included: str) -> pathlib.PurePosixPath | None:
    """The included header relative to the root: beside the source first,
    then from the root (the project's one include path)."""
    for base in (source.parent, ROOT):
        candidate = (base / included).resolve()
        if candidate.is_file():
            try:
                return pathlib.PurePosixPath(candidate.relative_to(ROOT).as_posix())
            except ValueError:
                return None
    return None


def main() -> int:
    passed = failed = 0
    for source in sorted(ROOT.rglob("*")):
        if source.suffix not in SOURCES or not source.is_file():
            continue
        rel = pathlib.PurePosixPath(source.relative_to(ROOT).as_posix())
        if rel.parts[0] in UNCHECKED or rel.parts[0].startswith(".") or rel.parts[0] == "build":
            continue
        own = layer_of(rel)
        if own is None:
            continue
        allowed = {own, *BELOW[own]}
        ok = True
        for match in INCLUDE.finditer(source.read_text(encoding="utf-8", errors="replace")):
            target = resolve(source, match.group(1))
            if target is None:
                continue  # a system or generated header
            theirs = layer_of(target)
            if theirs in allowed:
                continue
            if theirs is None:
                theirs = target.parts[0]  # a test, benchmark or script folder: never product code's
            line = source.read_text(encoding="utf-8", errors="replace")[: match.start()].count("\n") + 1
            print(f"{rel}:{line}: layer '{own}' must not include \"{match.group(1)}\" (layer '{theirs}')")
            ok = False
        passed += ok
        failed += not ok
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
