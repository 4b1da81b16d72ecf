#!/usr/bin/env python3
"""Writes the tolvane-pack(1) manual page from docs/tolvane-pack.md, so the
guide is the one place the tool is described.

    make_manpage.py GUIDE.md OUT.1 VERSION

Understands the Markdown the guide uses: headings, paragraphs, fenced code,
bullet lists (one level of nesting), tables, **bold**, `code` and [links](x).
"""
import re
import sys


def inline(text):
    text = text.replace("\\", "\\e")
    text = re.sub(r"\[([^\]]+)\]\([^)]+\)", r"\1", text)
    text = re.sub(r"\*\*([^*]+)\*\*", r"\\fB\1\\fR", text)
    text = re.sub(r"`([^`]+)`", r"\\fB\1\\fR", text)
    text = text.replace("\\e|", "|")   # table cells escape their bars
    text = text.replace("-", "\\-")
    return text


def line(text):
    """A text line; one starting with a dot or quote would read as a request."""
    return "\\&" + text if text[:1] in (".", "'") else text


def convert(markdown, version):
    out = [f'.TH TOLVANE-PACK 1 "" "tolvane-pack {version}" "User Commands"']
    lines = markdown.splitlines()
    i = 0
    while i < len(lines):
        text = lines[i]
        if text.startswith("```"):
            out.append(".PP\n.nf\n.RS 4")
            i += 1
            while i < len(lines) and not lines[i].startswith("```"):
                out.append(line(lines[i].replace("\\", "\\e").replace("-", "\\-")))
                i += 1
            out.append(".RE\n.fi")
        elif text.startswith("# "):
            out.append(".SH NAME\ntolvane-pack \\- make and check self-extracting packages for Windows")
        elif text.startswith("## "):
            out.append(".SH " + inline(text[3:].upper()))
        elif text.startswith("### "):
            out.append(".SS " + inline(text[4:]))
        elif text.startswith("|"):
            rows = []
            while i < len(lines) and lines[i].startswith("|"):
                cells = [c.strip() for c in re.split(r"(?<!\\)\|", lines[i].strip())[1:-1]]
                if not all(set(c) <= set("-: ") for c in cells):
                    rows.append(cells)
                i += 1
            i -= 1
            # The header row names the columns; with more than one value per
            # row each value is named by its column.
            header = rows[0]
            for cells in rows[1:]:
                values = cells[1:]
                if len(values) > 1:
                    values = [f"{h}: {v}" if h else v for h, v in zip(header[1:], values)]
                out.append(".TP\n" + line(inline(cells[0])) + "\n" + line(inline(" \u2014 ".join(values))))
        elif re.match(r"\s*- ", text):
            indent = len(text) - len(text.lstrip())
            item = text.strip()[2:]
            while i + 1 < len(lines) and lines[i + 1].strip() and not re.match(r"\s*- ", lines[i + 1]) \
                    and lines[i + 1].startswith(" "):
                i += 1
                item += " " + lines[i].strip()
            out.append((".RS 4\n" if indent else "") + ".IP \\(bu 2\n" + line(inline(item)) +
                       ("\n.RE" if indent else ""))
        elif text.strip():
            paragraph = [text.strip()]
            while i + 1 < len(lines) and lines[i + 1].strip() and not re.match(r"(#|```|\||\s*- )", lines[i + 1]):
                i += 1
                paragraph.append(lines[i].strip())
            out.append(".PP\n" + "\n".join(line(inline(p)) for p in paragraph))
        i += 1
    return "\n".join(out) + "\n"


if __name__ == "__main__":
    source, target, version = sys.argv[1:4]
    with open(source, encoding="utf-8") as f:
        page = convert(f.read(), version)
    with open(target, "w", encoding="utf-8") as f:
        f.write(page)
