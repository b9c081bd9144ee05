#!/usr/bin/python3
"""Renders the user guide (Markdown) into one self-contained HTML file: the
pictures embedded as data: URIs, the style sheet inline, no link to a file
beside it, so the guide is one file a user can open from the zip.

usage: render_guide.py guide.md out.html
Runs under Debian's /usr/bin/python3, which has python3-markdown.
"""
import base64
import html
import pathlib
import re
import sys

import markdown
from markdown.extensions import Extension
from markdown.treeprocessors import Treeprocessor

MIME = {".png": "image/png", ".jpg": "image/jpeg", ".jpeg": "image/jpeg", ".gif": "image/gif"}

STYLE = """
body { font-family: "Segoe UI", Tahoma, Arial, sans-serif; max-width: 60em; margin: 2em auto; padding: 0 1em;
       line-height: 1.45; color: #222; }
h1, h2, h3 { color: #1a3d6d; }
table { border-collapse: collapse; margin: 1em 0; }
th, td { border: 1px solid #bbb; padding: 0.35em 0.6em; vertical-align: top; text-align: left; }
th { background: #eef2f7; }
code, pre { font-family: Consolas, "Courier New", monospace; background: #f4f4f4; }
pre { padding: 0.6em; overflow-x: auto; }
img { border: 1px solid #ccc; max-width: 100%; }
"""


class EmbedImages(Treeprocessor):
    """Replaces each <img src="file"> by the file's bytes as a data: URI; a
    picture that is missing, or one that is not a local file, is an error."""

    def __init__(self, md, base):
        super().__init__(md)
        self.base = base

    def run(self, root):
        for img in root.iter("img"):
            src = img.get("src", "")
            path = self.base / src
            mime = MIME.get(path.suffix.lower())
            if re.match(r"^[a-z]+:", src) or mime is None or not path.is_file():
                raise SystemExit("render_guide: cannot embed picture %r" % src)
            img.set("src", "data:%s;base64,%s" % (mime, base64.b64encode(path.read_bytes()).decode("ascii")))


class EmbedImagesExtension(Extension):
    def __init__(self, base):
        super().__init__()
        self.base = base

    def extendMarkdown(self, md):
        # After "inline" (which makes the <img> elements), before "prettify".
        md.treeprocessors.register(EmbedImages(md, self.base), "embed_images", 5)


def render(source: pathlib.Path) -> str:
    text = source.read_text(encoding="utf-8")
    md = markdown.Markdown(extensions=["tables", "attr_list", "sane_lists", EmbedImagesExtension(source.parent)])
    body = md.convert(text)
    heading = re.search(r"^# ([^{\n]+)", text, re.M)
    title = html.escape(heading.group(1).strip() if heading else source.stem)
    return ('<!DOCTYPE html>\n<html lang="ru">\n<head>\n<meta charset="utf-8">\n<title>%s</title>\n'
            "<style>%s</style>\n</head>\n<body>\n%s\n</body>\n</html>\n" % (title, STYLE, body))


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    out = render(pathlib.Path(sys.argv[1]))
    # Only data: pictures and links within the page (or to the web) remain.
    for attr, value in re.findall(r'\b(src|href)="([^"]*)"', out):
        if not re.match(r"^(data:|#|https?:)", value):
            raise SystemExit("render_guide: %s=%r points to a file beside the guide" % (attr, value[:60]))
    pathlib.Path(sys.argv[2]).write_text(out, encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main())
